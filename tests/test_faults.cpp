// Hostile input and failing output through the real executable. Whatever
// happens, the tool ends with status 0 or 1 by itself, prints nothing on
// standard output and at most one message on standard error, and when it
// says it succeeded the sprite is sound and paints back the image.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <optional>

#include "pcx/pcx.h"
#include "strip_walker.h"
#include "support.h"

namespace {

const std::string example = std::string(EXAMPLES_DIR) + "/slime.pcx";

// What the sprite of `input` must paint, decoded in process; empty when the
// reader refuses it.
struct Decoded {
  bool ok = false;
  uint32_t width = 0, height = 0, stride = 0;
  Bytes pixels;
};

Decoded decode_bytes(const Bytes& input) {
  Decoded image;
  testing::internal::CaptureStderr();
  image.ok = load_pcx(input) && decode_src_pcx();
  testing::internal::GetCapturedStderr();
  if (image.ok) {
    image.width = src_pcx_width;
    image.height = src_pcx_height;
    image.stride = src_pcx_stride;
    image.pixels.assign(src_pcx, src_pcx + src_pcx_stride * src_pcx_height);
  }
  release_image();
  return image;
}

void expect_sound(const ToolRun& run, const Bytes& input, const std::string& sprite_path, const std::string& what) {
  EXPECT_FALSE(run.timed_out) << what;
  EXPECT_EQ(run.signal, 0) << what;
  EXPECT_TRUE(run.status == 0 || run.status == 1) << what << ": status " << run.status;
  EXPECT_EQ(run.out, "") << what;
  size_t lines = static_cast<size_t>(std::count(run.err.begin(), run.err.end(), '\n'));
  EXPECT_EQ(lines, run.status == 0 ? 0u : 1u) << what << ": " << run.err;
  if (run.status != 0) return;
  Decoded image = decode_bytes(input);
  ASSERT_TRUE(image.ok) << what;
  EXPECT_EQ(check_sprite(read_bytes(sprite_path), image.pixels.data(), image.width, image.height, image.stride, 0), "")
      << what;
}

TEST(Faults, TruncatedAtEveryLength) {
  Bytes full = read_bytes(example);
  std::string in = scratch_path("truncated.pcx");
  std::string out = scratch_path("truncated.kob");
  for (size_t length = 0; length <= full.size(); ++length) {
    Bytes input(full.begin(), full.begin() + static_cast<long>(length));
    write_bytes(in, input);
    unlink(out.c_str());
    ToolRun run = run_tool({"-i", in, "-o", out});
    expect_sound(run, input, out, "length " + std::to_string(length));
  }
}

TEST(Faults, HeaderFieldsSweptOverBoundaries) {
  struct Field {
    const char* name;
    size_t offset, size;
  };
  const Field fields[] = {{"manufacturer", 0, 1}, {"encoding", 2, 1}, {"bits", 3, 1},
                          {"xmin", 4, 2},         {"ymin", 6, 2},     {"xmax", 8, 2},
                          {"ymax", 10, 2},        {"planes", 65, 1},  {"stride", 66, 2}};
  const uint32_t values[] = {0,  1,  2,   7,   8,   9,   10,  11,  12,  46,    47,   48,
                             49, 50, 254, 255, 256, 257, 510, 511, 512, 65534, 65535};
  Bytes original = read_bytes(example);
  std::string in = scratch_path("swept.pcx");
  std::string out = scratch_path("swept.kob");
  for (const Field& field : fields) {
    for (uint32_t value : values) {
      if (field.size == 1 && value > 255) continue;
      Bytes input = original;
      input[field.offset] = static_cast<uint8_t>(value);
      if (field.size == 2) input[field.offset + 1] = static_cast<uint8_t>(value >> 8);
      write_bytes(in, input);
      unlink(out.c_str());
      expect_sound(run_tool({"-i", in, "-o", out}), input, out,
                   std::string(field.name) + " = " + std::to_string(value));
    }
  }
}

// Inputs whose length cannot be learned by seeking are refused at once.
TEST(Faults, UnseekableAndSpecialInputs) {
  std::string out = scratch_path("special.kob");
  std::string fifo = scratch_path("fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
  int piped[2];
  ASSERT_EQ(pipe(piped), 0);
  Bytes image = read_bytes(example);
  ASSERT_EQ(write(piped[1], image.data(), image.size()), static_cast<ssize_t>(image.size()));
  close(piped[1]);
  // A sparse file of 4 GiB: refused before anything is allocated or read.
  std::string huge = scratch_path("huge.pcx");
  write_bytes(huge, read_bytes(example));
  ASSERT_EQ(truncate(huge.c_str(), off_t{1} << 32), 0);
  const RunOptions plain;
  RunOptions from_pipe;
  from_pipe.stdin_fd = piped[0];

  struct Row {
    const char* name;
    std::string input;
    RunOptions options;
    std::string err;
  };
  const std::vector<Row> rows = {
      {"directory", scratch_dir(), plain, "Cannot read PCX\n"},
      {"FIFO nobody writes to", fifo, plain, "Cannot read PCX\n"},
      {"pipe on standard input", "/dev/stdin", from_pipe, "Cannot read PCX\n"},
      {"/dev/null", "/dev/null", plain, "File is too small to be PCX\n"},
      {"4 GiB file", huge, plain, "PCX too big\n"},
  };
  for (const Row& row : rows) {
    ToolRun run = run_tool({"-i", row.input, "-o", out}, row.options);
    EXPECT_FALSE(run.timed_out) << row.name;
    EXPECT_EQ(run.status, 1) << row.name;
    EXPECT_EQ(run.err, row.err) << row.name;
    EXPECT_EQ(run.out, "") << row.name;
    EXPECT_FALSE(file_exists(out)) << row.name;
  }
  close(piped[0]);
}

// A FIFO that another process is writing to still cannot be sought.
TEST(Faults, FifoWithAWriter) {
  std::string fifo = scratch_path("fed-fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
  pid_t writer = fork();
  if (writer == 0) {
    signal(SIGPIPE, SIG_DFL);
    int fd = open(fifo.c_str(), O_WRONLY);
    Bytes image = read_bytes(example);
    _exit(fd >= 0 && write(fd, image.data(), image.size()) > 0 ? 0 : 1);
  }
  ToolRun run = run_tool({"-i", fifo, "-o", scratch_path("fed.kob")});
  kill(writer, SIGKILL);
  waitpid(writer, nullptr, 0);
  EXPECT_FALSE(run.timed_out);
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "Cannot read PCX\n");
}

// Rows on permissions run the tool as nobody when the tests run as root.
TEST(Faults, OutputsThatCannotBeWritten) {
  std::string dir = scratch_path("outputs");
  std::string read_only = dir + "/read-only";
  std::string missing = dir + "/missing";
  ASSERT_EQ(mkdir(dir.c_str(), 0755), 0);
  ASSERT_EQ(mkdir(read_only.c_str(), 0555), 0);
  // A copy of the tool and the input where nobody can reach them.
  std::string tool = dir + "/pcx2kob";
  std::string input = dir + "/slime.pcx";
  std::string locked = dir + "/locked.pcx";
  write_bytes(tool, read_bytes(PCX2KOB_EXE));
  write_bytes(input, read_bytes(example));
  write_bytes(locked, read_bytes(example));
  ASSERT_EQ(chmod(tool.c_str(), 0755), 0);
  ASSERT_EQ(chmod(locked.c_str(), 0), 0);
  const RunOptions plain;
  RunOptions nobody;
  nobody.unprivileged = true;
  nobody.exe = tool;
  std::string sprite = dir + "/sprite.kob";
  std::string palette = dir + "/palette.pal";

  struct Row {
    std::vector<std::string> args;
    RunOptions options;
    std::string err;
  };
  const std::vector<Row> rows = {
      {{"-i", input, "-o", "/dev/full"}, plain, "Cannot write file '/dev/full', No space left on device\n"},
      {{"-i", input, "-o", sprite, "-p", "/dev/full"},
       plain,
       "Cannot write file '/dev/full', No space left on device\n"},
      {{"-i", input, "-o", missing + "/x.kob"},
       plain,
       "Cannot create file '" + missing + "/x.kob', No such file or directory\n"},
      {{"-i", input, "-o", sprite, "-p", missing + "/x.pal"},
       plain,
       "Cannot create file '" + missing + "/x.pal', No such file or directory\n"},
      {{"-i", input, "-o", read_only + "/x.kob"},
       nobody,
       "Cannot create file '" + read_only + "/x.kob', Permission denied\n"},
      {{"-i", input, "-o", sprite, "-p", read_only + "/x.pal"},
       nobody,
       "Cannot create file '" + read_only + "/x.pal', Permission denied\n"},
      {{"-i", locked, "-o", sprite}, nobody, "Cannot open source file '" + locked + "', Permission denied\n"},
  };
  for (const Row& row : rows) {
    ToolRun run = run_tool(row.args, row.options);
    EXPECT_EQ(run.status, 1) << row.err;
    EXPECT_EQ(run.err, row.err);
    EXPECT_EQ(run.out, "");
    // Every row fails before the sprite is written, or writes it elsewhere.
    EXPECT_FALSE(file_exists(sprite)) << row.err;
  }
}

// What a run must leave on disk: a file with exactly these bytes, or no
// file at all (nullopt).
struct OnDisk {
  std::string path;
  std::optional<Bytes> bytes;
};

// Every run starts from the same files: the example image with a symlink
// and a hard link to it, an earlier good sprite with a symlink to it, the
// golden sprite and palette for kob2pcx, and a sheet of two 64 x 32 cells,
// the first empty, the second noise. Outputs either are whole or are
// not there: a failed write removes what it wrote, and nothing is ever
// written over an input or over the other output.
TEST(Faults, NoOutputHalfWrittenOrOverAnInput) {
  const std::string dir = scratch_path("outcomes");
  ASSERT_EQ(mkdir(dir.c_str(), 0755), 0);
  auto at = [&](const char* name) { return dir + "/" + name; };
  const std::string in = at("in.pcx"), old = at("old.kob"), kob = at("k.kob"), pal = at("k.pal");
  const std::string new_kob = at("new.kob"), new_pal = at("new.pal"), new_pcx = at("new.pcx");
  const Bytes image = read_bytes(example);
  const Bytes sprite = read_bytes(std::string(TEST_DATA_DIR) + "/slime.kob");
  const Bytes palette = read_bytes(std::string(TEST_DATA_DIR) + "/slime.pal");
  ASSERT_GT(sprite.size(), 1024u);  // so a 1 KiB file-size limit cuts the sprite short
  const std::string sheet = at("sheet.pcx"), cells = at("cell%d.kob");
  Bytes sheet_pixels(128 * 32, 0);
  for (uint32_t y = 0; y < 32; ++y) {
    for (uint32_t x = 64; x < 128; ++x) sheet_pixels[y * 128 + x] = static_cast<uint8_t>(1 + (x * 7 + y * 13) % 5);
  }
  // The empty cell's sprite: one skip-only record a column, well under 1 KiB;
  // the noisy cell's is far over.
  Bytes empty_cell = join({bytes_of("KOB1VGAX"), {32, 0, 64, 0, 0, 0, 0, 0}});
  for (int column = 0; column < 64; ++column) empty_cell.insert(empty_cell.end(), {0x00, 32, 0xff});
  auto arrange = [&] {
    ASSERT_EQ(system(("rm -rf '" + dir + "'/*").c_str()), 0);
    write_bytes(in, image);
    write_bytes(old, sprite);
    write_bytes(kob, sprite);
    write_bytes(pal, palette);
    ASSERT_EQ(symlink(in.c_str(), at("in-link.pcx").c_str()), 0);
    ASSERT_EQ(link(in.c_str(), at("in-hard.pcx").c_str()), 0);
    ASSERT_EQ(symlink(old.c_str(), at("old-link.kob").c_str()), 0);
    write_bytes(sheet, build_pcx(pcx_of(sheet_pixels, 128, 32, 128)));
    ASSERT_EQ(link(sheet.c_str(), at("sheet1.pcx").c_str()), 0);
  };
  const std::string pcx2kob = PCX2KOB_EXE, kob2pcx = KOB2PCX_EXE;
  const std::string too_large = "', File too large\n";
  auto same = [](const std::string& a, const std::string& b) {
    return "Output '" + a + "' is the same file as '" + b + "'\n";
  };
  const std::optional<Bytes> absent;
  struct Row {
    const char* name;
    std::string exe;
    std::vector<std::string> args;
    long file_size_limit;
    std::string err;  // empty: the run succeeds
    std::vector<OnDisk> after;
  };
  const std::vector<Row> rows = {
      {"sprite cut short over an earlier one; the palette was whole",
       pcx2kob,
       {"-i", in, "-o", old, "-p", new_pal},
       1024,
       "Cannot write file '" + old + too_large,
       {{old, absent}, {new_pal, palette}, {in, image}}},
      {"palette cut short",
       pcx2kob,
       {"-i", in, "-o", new_kob, "-p", new_pal},
       512,
       "Cannot write file '" + new_pal + too_large,
       {{new_pal, absent}, {new_kob, absent}}},
      {"sprite cut short through a symlink: its target goes",
       pcx2kob,
       {"-i", in, "-o", at("old-link.kob")},
       1024,
       "Cannot write file '" + at("old-link.kob") + too_large,
       {{old, absent}, {in, image}}},
      {"kob2pcx image cut short",
       kob2pcx,
       {"-i", kob, "-o", new_pcx, "-p", pal},
       1024,
       "Cannot write file '" + new_pcx + too_large,
       {{new_pcx, absent}, {kob, sprite}, {pal, palette}}},
      {"a full device is not removed",
       pcx2kob,
       {"-i", in, "-o", "/dev/full"},
       -1,
       "Cannot write file '/dev/full', No space left on device\n",
       {{in, image}}},
      {"sprite over the input", pcx2kob, {"-i", in, "-o", in}, -1, same(in, in), {{in, image}}},
      {"palette over the input",
       pcx2kob,
       {"-i", in, "-o", new_kob, "-p", in},
       -1,
       same(in, in),
       {{in, image}, {new_kob, absent}}},
      {"sprite over a symlink to the input",
       pcx2kob,
       {"-i", in, "-o", at("in-link.pcx")},
       -1,
       same(at("in-link.pcx"), in),
       {{in, image}}},
      {"palette over a hard link to the input",
       pcx2kob,
       {"-i", in, "-o", new_kob, "-p", at("in-hard.pcx")},
       -1,
       same(at("in-hard.pcx"), in),
       {{in, image}, {new_kob, absent}}},
      {"both outputs on one existing file",
       pcx2kob,
       {"-i", in, "-o", old, "-p", old},
       -1,
       same(old, old),
       {{old, sprite}}},
      {"both outputs on one new path",
       pcx2kob,
       {"-i", in, "-o", new_kob, "-p", new_kob},
       -1,
       same(new_kob, new_kob),
       {{new_kob, absent}}},
      {"both outputs on /dev/null", pcx2kob, {"-i", in, "-o", "/dev/null", "-p", "/dev/null"}, -1, "", {{in, image}}},
      {"kob2pcx image over its sprite", kob2pcx, {"-i", kob, "-o", kob}, -1, same(kob, kob), {{kob, sprite}}},
      {"sheet cut short at its second cell: the first stays",
       pcx2kob,
       {"-i", sheet, "-o", cells, "-grid", "64x32"},
       1024,
       "Cannot write file '" + at("cell1.kob") + too_large,
       {{at("cell0.kob"), empty_cell}, {at("cell1.kob"), absent}}},
      {"sheet cell on a hard link to the input",
       pcx2kob,
       {"-i", sheet, "-o", at("sheet%d.pcx"), "-grid", "64x32"},
       -1,
       same(at("sheet1.pcx"), sheet),
       {{at("sheet0.pcx"), absent}, {sheet, build_pcx(pcx_of(sheet_pixels, 128, 32, 128))}}},
      {"sheet cell over the palette, which is written first",
       pcx2kob,
       {"-i", sheet, "-o", cells, "-p", at("cell1.kob"), "-grid", "64x32"},
       -1,
       same(at("cell1.kob"), at("cell1.kob")),
       {{at("cell0.kob"), absent}, {at("cell1.kob"), absent}}},
      {"kob2pcx image over its palette",
       kob2pcx,
       {"-i", kob, "-o", pal, "-p", pal},
       -1,
       same(pal, pal),
       {{pal, palette}}},
  };
  for (const Row& row : rows) {
    arrange();
    RunOptions options;
    options.exe = row.exe;
    options.file_size_limit = row.file_size_limit;
    ToolRun run = run_tool(row.args, options);
    EXPECT_EQ(run.status, row.err.empty() ? 0 : 1) << row.name;
    EXPECT_EQ(run.err, row.err) << row.name;
    EXPECT_EQ(run.out, "") << row.name;
    for (const OnDisk& file : row.after) {
      EXPECT_EQ(file_exists(file.path), file.bytes.has_value()) << row.name << ": " << file.path;
      if (file.bytes) {
        EXPECT_EQ(read_bytes(file.path), *file.bytes) << row.name << ": " << file.path;
      }
    }
  }
  struct stat device;
  ASSERT_EQ(stat("/dev/full", &device), 0);
  EXPECT_TRUE(S_ISCHR(device.st_mode));
}

}  // namespace
