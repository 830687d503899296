// The command line through the real executable: exact standard error,
// empty standard output, exit status.
#include <gtest/gtest.h>

#include "support.h"

namespace {

const std::string example = std::string(EXAMPLES_DIR) + "/slime.pcx";

struct CliRow {
  std::vector<std::string> args;
  int status;
  std::string err;
};

void expect_runs(const std::vector<CliRow>& rows) {
  for (const CliRow& row : rows) {
    std::string shown;
    for (const std::string& arg : row.args) shown += " [" + arg + "]";
    ToolRun run = run_tool(row.args);
    EXPECT_EQ(run.status, row.status) << shown;
    EXPECT_EQ(run.err, row.err) << shown;
    EXPECT_EQ(run.out, "") << shown;
  }
}

TEST(CommandLine, UsageTextEndsTheRun) {
  std::string out = scratch_path("usage.kob");
  expect_runs({
      {{}, 1, usage_text},
      {{"-h"}, 1, usage_text},
      {{"--h"}, 1, usage_text},
      {{"---h"}, 1, usage_text},
      {{"-help"}, 1, usage_text},
      {{"--help"}, 1, usage_text},
      {{"---help"}, 1, usage_text},
      {{"-i", example, "-o", out, "-h", "-bogus"}, 1, usage_text},
      {{"-o", out}, 1, usage_text},
      {{"-i", example}, 1, usage_text},
      {{"-i", example, "-o", out, "-o"}, 1, usage_text},
      {{"-i", example, "-o", out, "-i"}, 1, usage_text},
  });
  EXPECT_FALSE(file_exists(out));
}

TEST(CommandLine, BadArgumentsAreNamed) {
  expect_runs({
      {{"-H"}, 1, "Unknown switch 'H'. Use --help\n"},
      {{"-"}, 1, "Unknown switch ''. Use --help\n"},
      {{"---"}, 1, "Unknown switch ''. Use --help\n"},
      {{"-I", "x"}, 1, "Unknown switch 'I'. Use --help\n"},
      {{"--tcx", "1"}, 1, "Unknown switch 'tcx'. Use --help\n"},
      {{"-x", "-h"}, 1, "Unknown switch 'x'. Use --help\n"},
      {{"image.pcx"}, 1, "Unknown param image.pcx\n"},
      {{"-i", example, "out.kob"}, 1, "Unknown param out.kob\n"},
      {{""}, 1, "Unknown param \n"},
  });
}

TEST(CommandLine, PathsAreTakenAsGiven) {
  std::string out = scratch_path("paths.kob");
  std::string missing = scratch_path("missing.pcx");
  expect_runs({
      // The second -i wins.
      {{"-i", missing, "-i", example, "-o", out}, 0, ""},
      {{"-i", example, "-i", missing, "-o", out},
       1,
       "Cannot open source file '" + missing + "', No such file or directory\n"},
      // A value is taken whatever it looks like.
      {{"-i", "-o", "-o", out}, 1, "Cannot open source file '-o', No such file or directory\n"},
      {{"-i", "", "-o", out}, 1, "Cannot open source file '', No such file or directory\n"},
      {{"-i", example, "-o", ""}, 1, "Cannot create file '', No such file or directory\n"},
      {{"-i", example, "-o", out, "-p", ""}, 1, "Cannot create file '', No such file or directory\n"},
      // Any order, any number of dashes.
      {{"-tc", "0", "---o", out, "--i", example}, 0, ""},
  });
}

TEST(CommandLine, PaletteFileOnlyWhenAskedAndFound) {
  std::string out = scratch_path("palette.kob");
  std::string palette = scratch_path("palette.pal");
  std::string last = scratch_path("palette-last.pal");
  expect_runs({
      {{"-p", last, "-i", example, "-o", out, "-p"}, 0, ""},
      {{"-i", example, "-o", out, "-p", palette}, 0, ""},
  });
  EXPECT_FALSE(file_exists(last));
  Bytes input = read_bytes(example);
  EXPECT_EQ(read_bytes(palette), Bytes(input.end() - 768, input.end()));
}

// The transparent index decides which pixels become skips: on a 2 x 2 image
// of one colour, the strips hold nothing but skips exactly when -tc names it.
TEST(CommandLine, TransparentIndexIsParsedLikeStrtoul) {
  struct Row {
    std::vector<std::string> tc_args;
    int index;
  };
  const std::vector<Row> rows = {
      {{}, 0},
      {{"-tc", "16"}, 16},
      {{"-tc", "0x10"}, 16},
      {{"-tc", "0X1f"}, 31},
      {{"-tc", "010"}, 8},
      {{"-tc", "08"}, 0},
      {{"-tc", "300"}, 44},
      {{"-tc", "-1"}, 255},
      {{"-tc", " +7"}, 7},
      {{"-tc", "99999999999999999999999"}, 255},
      {{"-tc", "letters"}, 0},
      {{"-tc", "12abc"}, 12},
      {{"-tc", "9", "-tc", "200"}, 200},
      {{"-tc", "77", "-tc"}, 77},
  };
  std::string out = scratch_path("tc.kob");
  for (const Row& row : rows) {
    std::string in = scratch_path("tc.pcx");
    Bytes pixels(4, static_cast<uint8_t>(row.index));
    write_bytes(in, build_pcx(pcx_of(pixels, 2, 2, 2)));
    std::vector<std::string> args = {"-i", in, "-o", out};
    args.insert(args.end(), row.tc_args.begin(), row.tc_args.end());
    ToolRun run = run_tool(args);
    ASSERT_EQ(run.status, 0) << run.err;
    Bytes sprite = read_bytes(out);
    Bytes strips(sprite.begin() + 16, sprite.end());
    EXPECT_EQ(strips, (Bytes{0x00, 0x02, 0xff, 0x00, 0x02, 0xff})) << row.index;
  }
}

}  // namespace
