// Hostile input and failing output through the real executable. Whatever
// happens, the tool ends with status 0 or 1 by itself, prints nothing on
// standard output and at most one message on standard error, and when it
// says it succeeded the sprite is sound and paints back the image.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <csignal>
#include <set>
#include <sstream>

#include "image.h"
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
    image.width = src_image.width;
    image.height = src_image.height;
    image.stride = src_image.stride;
    image.pixels.assign(src_image.pixels, src_image.pixels + src_image.stride * src_image.height);
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

// Sparse PCX files far larger than their image: a valid header then zeros,
// just under 4 GiB, and a bad header before 1 GiB. The file is mapped, not
// read, so each is answered within a second and 64 MiB (the child's peak),
// by the sprite of the zeros the image needs or by the header's refusal.
TEST(Faults, LargePcxAnsweredQuickly) {
  const uint32_t width = 64, height = 48;
  const Bytes zeros_file = build_pcx(pcx_of(Bytes(width * height, 0), width, height, width));
  const Bytes header(zeros_file.begin(), zeros_file.begin() + 128);
  Bytes bad_header = header;
  bad_header[0] = 0;
  const Bytes zeros_sprite = kob_of(Bytes(width * height, 0), width, height);
  struct Row {
    const Bytes* header;
    off_t length;
    std::string err;
  };
  const Row rows[] = {{&header, off_t{UINT32_MAX}, ""},
                      {&header, off_t{1} << 30, ""},
                      {&bad_header, off_t{1} << 30, "PCX format not supported\n"}};
  const std::string in = scratch_path("large.pcx"), out = scratch_path("large.kob");
  RunOptions measured;  // through peak_rss, which prints the tool's peak memory
  measured.exe = PEAK_RSS;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.length);
    write_bytes(in, *row.header);
    ASSERT_EQ(truncate(in.c_str(), row.length), 0);
    unlink(out.c_str());
    ToolRun run = run_tool({PCX2KOB_EXE, "-i", in, "-o", out}, measured);
    EXPECT_EQ(run.err, row.err);
    EXPECT_EQ(run.status, row.err.empty() ? 0 : 1);
    EXPECT_LT(run.seconds, 1.0);
    EXPECT_LT(run.out.empty() ? 1L << 30 : std::stol(run.out), 64 * 1024) << run.out;
    EXPECT_EQ(file_exists(out) ? read_bytes(out) : Bytes{}, row.err.empty() ? zeros_sprite : Bytes{});
  }
  unlink(in.c_str());
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

// Rows on permissions run the tool as nobody when the tests run as root. An
// output that cannot be written is refused with the reason opening it would
// give, and the file it names, if any, stays as it was.
TEST(Faults, OutputsThatCannotBeWritten) {
  std::string dir = scratch_path("outputs");
  std::string read_only = dir + "/read-only";
  std::string open_dir = dir + "/open";
  std::string missing = dir + "/missing";
  ASSERT_EQ(mkdir(dir.c_str(), 0755), 0);
  ASSERT_EQ(mkdir(read_only.c_str(), 0755), 0);
  ASSERT_EQ(mkdir(open_dir.c_str(), 0777), 0);
  ASSERT_EQ(chmod(open_dir.c_str(), 0777), 0);  // whatever the umask
  // A copy of the tool and the input where nobody can reach them; files
  // nobody may write in a directory nobody may write, and the other way round.
  std::string tool = dir + "/pcx2kob";
  std::string input = dir + "/slime.pcx";
  std::string locked = dir + "/locked.pcx";
  const Bytes earlier = bytes_of("an earlier sprite");
  std::string kept = read_only + "/kept.kob";       // writable, in a read-only directory
  std::string guarded = open_dir + "/guarded.kob";  // read-only, in a writable directory
  write_bytes(tool, read_bytes(PCX2KOB_EXE));
  write_bytes(input, read_bytes(example));
  write_bytes(locked, read_bytes(example));
  write_bytes(kept, earlier);
  write_bytes(guarded, earlier);
  ASSERT_EQ(chmod(kept.c_str(), 0666), 0);
  ASSERT_EQ(chmod(guarded.c_str(), 0444), 0);
  ASSERT_EQ(chmod(read_only.c_str(), 0555), 0);
  ASSERT_EQ(chmod(tool.c_str(), 0755), 0);
  ASSERT_EQ(chmod(locked.c_str(), 0), 0);
  const RunOptions plain;
  RunOptions nobody;
  nobody.unprivileged = true;
  nobody.exe = tool;
  std::string sprite = dir + "/sprite.kob";
  auto refused = [](const std::string& path, const std::string& why) {
    return "Cannot create file '" + path + "', " + why + "\n";
  };

  struct Row {
    std::vector<std::string> args;
    RunOptions options;
    std::string err;
    std::string file = "";  // a file that stays as it was
  };
  const std::vector<Row> rows = {
      {{"-i", input, "-o", "/dev/full"}, plain, "Cannot write file '/dev/full', No space left on device\n"},
      {{"-i", input, "-o", sprite, "-p", "/dev/full"},
       plain,
       "Cannot write file '/dev/full', No space left on device\n"},
      {{"-i", input, "-o", missing + "/x.kob"}, plain, refused(missing + "/x.kob", "No such file or directory")},
      {{"-i", input, "-o", sprite, "-p", missing + "/x.pal"},
       plain,
       refused(missing + "/x.pal", "No such file or directory")},
      {{"-i", input, "-o", dir}, plain, refused(dir, "Is a directory")},
      {{"-i", input, "-o", input + "/x.kob"}, plain, refused(input + "/x.kob", "Not a directory"), input},
      {{"-i", input, "-o", read_only + "/x.kob"}, nobody, refused(read_only + "/x.kob", "Permission denied")},
      {{"-i", input, "-o", sprite, "-p", read_only + "/x.pal"},
       nobody,
       refused(read_only + "/x.pal", "Permission denied")},
      {{"-i", input, "-o", kept}, nobody, refused(kept, "Permission denied"), kept},
      {{"-i", input, "-o", guarded}, nobody, refused(guarded, "Permission denied"), guarded},
      {{"-i", locked, "-o", sprite}, nobody, "Cannot open source file '" + locked + "', Permission denied\n"},
  };
  const std::set<std::string> open_dir_files = files_in(open_dir), read_only_files = files_in(read_only);
  for (const Row& row : rows) {
    ToolRun run = run_tool(row.args, row.options);
    EXPECT_EQ(run.status, 1) << row.err;
    EXPECT_EQ(run.err, row.err);
    EXPECT_EQ(run.out, "");
    // Every row fails before the sprite is written, or writes it elsewhere.
    EXPECT_FALSE(file_exists(sprite)) << row.err;
    if (!row.file.empty()) {
      EXPECT_EQ(read_bytes(row.file), row.file == input ? read_bytes(example) : earlier) << row.err;
    }
    EXPECT_EQ(files_in(open_dir), open_dir_files) << row.err;
    EXPECT_EQ(files_in(read_only), read_only_files) << row.err;
  }
}

// Devices are written where they stand: standard output, a pipe here, gets
// the bytes; /dev/null takes them.
TEST(Faults, DevicesWrittenInPlace) {
  const Bytes sprite = read_bytes(std::string(TEST_DATA_DIR) + "/slime.kob");
  const Bytes palette = read_bytes(std::string(TEST_DATA_DIR) + "/slime.pal");
  const std::vector<std::pair<std::vector<std::string>, Bytes>> rows = {
      {{"-o", "/dev/stdout"}, sprite},
      {{"-o", "/dev/null", "-p", "/dev/stdout"}, palette},
      {{"-o", "/dev/stdout", "-p", "/dev/stdout"}, join({palette, sprite})},
  };
  for (const auto& [outputs, bytes] : rows) {
    std::vector<std::string> args = {"-i", example};
    args.insert(args.end(), outputs.begin(), outputs.end());
    ToolRun run = run_tool(args);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, std::string(bytes.begin(), bytes.end())) << outputs[1];
  }
}

// A new output gets 0644 less the umask; a replaced one keeps its mode.
TEST(Faults, OutputModes) {
  struct Row {
    mode_t existing;  // 0: no file before the run
    mode_t umask_bits;
    mode_t expected;
  };
  const Row rows[] = {{0, 022, 0644},    {0, 002, 0644},    {0, 077, 0600},  {0, 0, 0644},
                      {0600, 022, 0600}, {0755, 077, 0755}, {0604, 0, 0604}, {0666, 0, 0666}};
  const std::string out = scratch_path("mode.kob");
  for (const Row& row : rows) {
    unlink(out.c_str());
    if (row.existing) {
      write_bytes(out, bytes_of("an earlier sprite"));
      ASSERT_EQ(chmod(out.c_str(), row.existing), 0);
    }
    mode_t saved = umask(row.umask_bits);
    ToolRun run = run_tool({"-i", example, "-o", out});
    umask(saved);
    struct stat written;
    ASSERT_EQ(stat(out.c_str(), &written), 0);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(written.st_mode & 07777, row.expected) << std::oct << row.existing << " " << row.umask_bits;
    EXPECT_EQ(read_bytes(out), read_bytes(std::string(TEST_DATA_DIR) + "/slime.kob"));
  }
}

// A signal that ends the run while an output is being written: the
// temporary file goes, whatever was there before stays. SIGXFSZ does not
// end it: a file-size limit is a failed write, reported as one.
TEST(Faults, SignalsLeaveNoTemporaryFile) {
  const std::string dir = scratch_path("signals");
  ASSERT_EQ(mkdir(dir.c_str(), 0755), 0);
  const Bytes earlier = bytes_of("an earlier sprite");
  write_bytes(dir + "/old.kob", earlier);
  const std::set<std::string> before = files_in(dir);
  setenv("LD_PRELOAD", INTERRUPT_AT_WRITE, 1);
  setenv("ASAN_OPTIONS", "verify_asan_link_order=0", 1);  // the shim comes first
  const rlimit no_core = {0, 0};
  ASSERT_EQ(setrlimit(RLIMIT_CORE, &no_core), 0);  // SIGQUIT and SIGXCPU would leave one
  for (int ending :
       {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE, SIGXCPU, SIGXFSZ, SIGUSR1, SIGUSR2, SIGALRM, SIGRTMIN}) {
    // The first write ends the run: the sprite's, the palette's, a cell's.
    for (const std::string outputs : {"-o old.kob", "-o new.kob", "-o old.kob -p new.pal", "-o c%d.kob -grid 24x20"}) {
      setenv("INTERRUPT_SIGNAL", std::to_string(ending).c_str(), 1);
      std::vector<std::string> args = {"-i", example};
      std::istringstream words(outputs);
      for (std::string arg; words >> arg;) args.push_back(arg.find('.') == std::string::npos ? arg : dir + "/" + arg);
      ToolRun run = run_tool(args);
      EXPECT_EQ(run.signal, ending == SIGXFSZ ? 0 : ending) << outputs << run.err;
      EXPECT_EQ(run.status, ending == SIGXFSZ ? 1 : -1) << outputs << run.err;
      EXPECT_EQ(files_in(dir), before) << ending << " " << outputs;
      EXPECT_EQ(read_bytes(dir + "/old.kob"), earlier);
    }
  }
  unsetenv("LD_PRELOAD");
  unsetenv("ASAN_OPTIONS");
  unsetenv("INTERRUPT_SIGNAL");
}

// A name that was new when the outputs were compared turns out, once the
// palette is in place, to lead to it (as OUT.KOB and out.kob do where the
// file system ignores case): the later output is refused, the palette stays.
TEST(Faults, SecondSpellingOfTheFirstOutput) {
  const std::string dir = scratch_path("spellings");
  ASSERT_EQ(mkdir(dir.c_str(), 0755), 0);
  const Bytes palette = read_bytes(std::string(TEST_DATA_DIR) + "/slime.pal");
  struct Row {
    std::string outputs;  // file names are in the directory
    std::string alias;    // becomes a symlink to pal.pal once it is in place
  };
  const Row rows[] = {{"-o out.kob -p pal.pal", "out.kob"}, {"-o c%d.kob -p pal.pal -grid 24x20", "c1.kob"}};
  setenv("LD_PRELOAD", ALIAS_AFTER_RENAME, 1);
  setenv("ASAN_OPTIONS", "verify_asan_link_order=0", 1);
  setenv("ALIAS_TARGET", "pal.pal", 1);
  for (const Row& row : rows) {
    ASSERT_EQ(system(("rm -rf '" + dir + "'/*").c_str()), 0);
    setenv("ALIAS_LINK", (dir + "/" + row.alias).c_str(), 1);
    std::vector<std::string> args = {"-i", example};
    std::istringstream words(row.outputs);
    for (std::string arg; words >> arg;) args.push_back(arg.find('.') == std::string::npos ? arg : dir + "/" + arg);
    ToolRun run = run_tool(args);
    EXPECT_EQ(run.status, 1) << row.outputs;
    EXPECT_EQ(run.err, "Output '" + dir + "/" + row.alias + "' is the same file as '" + dir + "/pal.pal'\n");
    EXPECT_EQ(read_bytes(dir + "/pal.pal"), palette) << row.outputs;
    for (const std::string& name : files_in(dir)) EXPECT_NE(name.substr(0, 5), ".kob-") << row.outputs;
  }
  unsetenv("LD_PRELOAD");
  unsetenv("ASAN_OPTIONS");
  unsetenv("ALIAS_TARGET");
  unsetenv("ALIAS_LINK");
}

// Paths as long as the system takes, PATH_MAX less its terminating zero,
// with a last name shorter than the temporary file's: written and renamed
// into place like any other.
TEST(Faults, LongestPaths) {
  std::string dir = scratch_path("long");
  ASSERT_EQ(mkdir(dir.c_str(), 0755), 0);
  const std::string sprite_name = "/s.kob", palette_name = "/s.pal";
  const size_t longest = PATH_MAX - 1, longest_name = 250;
  while (dir.size() + sprite_name.size() < longest) {
    size_t room = longest - dir.size() - sprite_name.size() - 1;  // after the slash
    dir.append(1, '/').append(std::min(room, longest_name), 'd');
    ASSERT_EQ(mkdir(dir.c_str(), 0755), 0) << dir.size();
  }
  ASSERT_EQ((dir + sprite_name).size(), longest);
  ToolRun run = run_tool({"-i", example, "-o", dir + sprite_name, "-p", dir + palette_name});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(read_bytes(dir + sprite_name), read_bytes(std::string(TEST_DATA_DIR) + "/slime.kob"));
  EXPECT_EQ(read_bytes(dir + palette_name), read_bytes(std::string(TEST_DATA_DIR) + "/slime.pal"));
  EXPECT_EQ(files_in(dir), (std::set<std::string>{"s.kob", "s.pal"}));
}

// Every run starts from the same files: the example image (in.pcx) with a
// symlink and a hard link to it (link.pcx, hard.pcx); an earlier sprite
// (old.kob, other bytes than any run writes) with a symlink and a hard link
// to it (old-link.kob, old-hard.kob), and an earlier cell (d1.kob); the
// golden sprite and palette for kob2pcx (k.kob, k.pal); a sheet (s.pcx) of
// two 64 x 32 cells, the first empty, the second noise, with a hard link to
// it (s1.pcx); a PNG (p.png); a directory (sub) and a dangling symlink
// (dangle.kob) to new.pal; cells that are one file by two names: g1.kob a
// symlink to g0.kob, a hard link to old.kob, e1.kob a dangling one to
// e0.kob, directories 0 and 1 for %d/../d.kob; two names of one disk,
// loop.dev and loop2.dev (when the tests may make device nodes). An output is replaced whole or not at all: a
// failed write leaves the file as it was (hard links too) and no temporary
// file, and nothing is ever written over an input or over the other output,
// whether it exists yet or not.
TEST(Faults, NoOutputHalfWrittenOrOverAnInput) {
  const std::string dir = scratch_path("outcomes");
  ASSERT_EQ(mkdir(dir.c_str(), 0755), 0);
  auto at = [&](const std::string& name) { return name[0] == '/' ? name : dir + "/" + name; };
  const Bytes image = read_bytes(example);
  const Bytes sprite = read_bytes(std::string(TEST_DATA_DIR) + "/slime.kob");
  const Bytes palette = read_bytes(std::string(TEST_DATA_DIR) + "/slime.pal");
  const Bytes old = bytes_of("an earlier sprite");
  ASSERT_GT(sprite.size(), 1024u);  // so a 1 KiB file-size limit cuts the sprite short
  Bytes sheet_pixels(128 * 32, 0);
  for (uint32_t i = 0; i < sheet_pixels.size(); ++i) {
    if (i % 128 >= 64) sheet_pixels[i] = static_cast<uint8_t>(1 + i * 7 % 5);
  }
  const Bytes sheet = build_pcx(pcx_of(sheet_pixels, 128, 32, 128));
  const Bytes png = read_bytes(std::string(TEST_DATA_DIR) + "/png/pillow-2bit-37x23.png");
  // The empty cell's sprite: one skip-only record a column, well under 1 KiB;
  // the noisy cell's is far over.
  Bytes empty_cell = join({bytes_of("KOB1VGAX"), {32, 0, 64, 0, 0, 0, 0, 0}});
  for (int column = 0; column < 64; ++column) empty_cell.insert(empty_cell.end(), {0x00, 32, 0xff});
  const std::set<std::string> arranged = {"in.pcx", "link.pcx",   "hard.pcx", "old.kob", "old-link.kob", "old-hard.kob",
                                          "d1.kob", "k.kob",      "k.pal",    "s.pcx",   "s1.pcx",       "p.png",
                                          "sub",    "dangle.kob", "g0.kob",   "g1.kob",  "e1.kob",       "0",
                                          "1",      "loop.dev",   "loop2.dev"};
  bool devices_made = false;
  auto arrange = [&] {
    ASSERT_EQ(system(("rm -rf '" + dir + "'/* '" + dir + "'/.[!.]*").c_str()), 0);
    for (auto [name, bytes] : {std::pair{"in.pcx", &image},
                               {"old.kob", &old},
                               {"d1.kob", &old},
                               {"k.kob", &sprite},
                               {"k.pal", &palette},
                               {"s.pcx", &sheet},
                               {"p.png", &png}}) {
      write_bytes(at(name), *bytes);
    }
    ASSERT_EQ(symlink(at("in.pcx").c_str(), at("link.pcx").c_str()), 0);
    ASSERT_EQ(link(at("in.pcx").c_str(), at("hard.pcx").c_str()), 0);
    ASSERT_EQ(symlink(at("old.kob").c_str(), at("old-link.kob").c_str()), 0);
    ASSERT_EQ(link(at("old.kob").c_str(), at("old-hard.kob").c_str()), 0);
    ASSERT_EQ(link(at("s.pcx").c_str(), at("s1.pcx").c_str()), 0);
    ASSERT_EQ(mkdir(at("sub").c_str(), 0755), 0);
    ASSERT_EQ(symlink("new.pal", at("dangle.kob").c_str()), 0);
    ASSERT_EQ(link(at("old.kob").c_str(), at("g0.kob").c_str()), 0);
    ASSERT_EQ(symlink("g0.kob", at("g1.kob").c_str()), 0);
    ASSERT_EQ(symlink("e0.kob", at("e1.kob").c_str()), 0);
    ASSERT_EQ(mkdir(at("0").c_str(), 0755), 0);
    ASSERT_EQ(mkdir(at("1").c_str(), 0755), 0);
    const dev_t loop0 = makedev(7, 0);
    devices_made = mknod(at("loop.dev").c_str(), S_IFBLK | 0600, loop0) == 0 &&
                   mknod(at("loop2.dev").c_str(), S_IFBLK | 0600, loop0) == 0;
  };
  auto cut = [&](const std::string& name) { return "Cannot write file '" + at(name) + "', File too large\n"; };
  auto same = [&](const std::string& a, const std::string& b) {
    return "Output '" + at(a) + "' is the same file as '" + at(b) + "'\n";
  };
  const Bytes* const gone = nullptr;
  const std::string P = PCX2KOB_EXE, K = KOB2PCX_EXE;
  struct Row {
    std::string exe;
    std::string args;                                         // file names are in the scratch directory
    long file_size_limit;                                     // -1: none
    std::string err;                                          // empty: the run succeeds
    std::vector<std::pair<std::string, const Bytes*>> after;  // the bytes a file holds, or gone
  };
  const std::vector<Row> rows = {
      // Writes cut short, the sheet's at its second cell: the earlier file stays.
      {P,
       "-i in.pcx -o old.kob -p new.pal",
       1024,
       cut("old.kob"),
       {{"old.kob", &old}, {"old-hard.kob", &old}, {"new.pal", &palette}}},
      {P, "-i in.pcx -o new.kob -p new.pal", 512, cut("new.pal"), {{"new.pal", gone}, {"new.kob", gone}}},
      {P, "-i in.pcx -o old-link.kob", 1024, cut("old-link.kob"), {{"old.kob", &old}, {"in.pcx", &image}}},
      {K, "-i k.kob -o new.pcx -p k.pal", 1024, cut("new.pcx"), {{"new.pcx", gone}, {"k.kob", &sprite}}},
      {K, "-i k.kob -o old.kob", 1024, cut("old.kob"), {{"old.kob", &old}, {"k.kob", &sprite}}},
      {P, "-i s.pcx -o c%d.kob -grid 64x32", 1024, cut("c1.kob"), {{"c0.kob", &empty_cell}, {"c1.kob", gone}}},
      {P, "-i s.pcx -o d%d.kob -grid 64x32", 1024, cut("d1.kob"), {{"d0.kob", &empty_cell}, {"d1.kob", &old}}},
      {P, "-i in.pcx -o /dev/full", -1, "Cannot write file '/dev/full', No space left on device\n", {}},
      // Whole runs replace the file a name leads to; a hard-linked twin keeps
      // the old bytes, a symlink stays a symlink.
      {P, "-i in.pcx -o old.kob", -1, "", {{"old.kob", &sprite}, {"old-hard.kob", &old}}},
      {P, "-i in.pcx -o old-link.kob", -1, "", {{"old.kob", &sprite}, {"old-hard.kob", &old}}},
      {P, "-i in.pcx -o dangle.kob", -1, "", {{"new.pal", &sprite}}},
      // Outputs over an input, or over one another.
      {P, "-i in.pcx -o in.pcx", -1, same("in.pcx", "in.pcx"), {{"in.pcx", &image}}},
      {P, "-i in.pcx -o new.kob -p in.pcx", -1, same("in.pcx", "in.pcx"), {{"in.pcx", &image}, {"new.kob", gone}}},
      {P, "-i in.pcx -o link.pcx", -1, same("link.pcx", "in.pcx"), {{"in.pcx", &image}}},
      {P, "-i in.pcx -o new.kob -p hard.pcx", -1, same("hard.pcx", "in.pcx"), {{"in.pcx", &image}, {"new.kob", gone}}},
      {P, "-i in.pcx -o old.kob -p old.kob", -1, same("old.kob", "old.kob"), {{"old.kob", &old}}},
      {P, "-i in.pcx -o old.kob -p old-hard.kob", -1, same("old.kob", "old-hard.kob"), {{"old.kob", &old}}},
      {P, "-i in.pcx -o new.kob -p new.kob", -1, same("new.kob", "new.kob"), {{"new.kob", gone}}},
      {P, "-i in.pcx -o new.kob -p ./new.kob", -1, same("new.kob", "./new.kob"), {{"new.kob", gone}}},
      {P,
       "-i in.pcx -o sub/new.kob -p sub/../sub/new.kob",
       -1,
       same("sub/new.kob", "sub/../sub/new.kob"),
       {{"sub/new.kob", gone}}},
      {P, "-i in.pcx -o dangle.kob -p new.pal", -1, same("dangle.kob", "new.pal"), {{"new.pal", gone}}},
      {P, "-i in.pcx -o /dev/null -p /dev/null", -1, "", {{"in.pcx", &image}}},
      {P, "-i s.pcx -o s%d.pcx -grid 64x32", -1, same("s1.pcx", "s.pcx"), {{"s0.pcx", gone}, {"s.pcx", &sheet}}},
      {P,
       "-i s.pcx -o c%d.kob -p c1.kob -grid 64x32",
       -1,
       same("c1.kob", "c1.kob"),
       {{"c0.kob", gone}, {"c1.kob", gone}}},
      {P, "-i p.png -o c%d.kob -p c0.kob -grid 37x23", -1, same("c0.kob", "c0.kob"), {{"c0.kob", gone}}},
      {P, "-i p.png -o c%d.kob -p ./c0.kob -grid 37x23", -1, same("c0.kob", "./c0.kob"), {{"c0.kob", gone}}},
      // Cells that are one file by two names, existing or not.
      {P, "-i s.pcx -o g%d.kob -grid 64x32", -1, same("g1.kob", "g0.kob"), {{"old.kob", &old}}},
      {P, "-i s.pcx -o e%d.kob -grid 64x32", -1, same("e1.kob", "e0.kob"), {{"e0.kob", gone}}},
      {P, "-i s.pcx -o %d/../d.kob -grid 64x32", -1, same("1/../d.kob", "0/../d.kob"), {{"d.kob", gone}}},
      // A disk read and written, by one name or two; /dev/null may be both.
      {P, "-i loop.dev -o loop2.dev", -1, same("loop2.dev", "loop.dev"), {}},
      {P, "-i in.pcx -o loop.dev -p loop2.dev", -1, same("loop.dev", "loop2.dev"), {}},
      {K, "-i loop.dev -o loop.dev", -1, same("loop.dev", "loop.dev"), {}},
      {P, "-i /dev/null -o /dev/null", -1, "File is too small to be PCX\n", {}},
      {K, "-i k.kob -o k.kob", -1, same("k.kob", "k.kob"), {{"k.kob", &sprite}}},
      {K, "-i k.kob -o k.pal -p k.pal", -1, same("k.pal", "k.pal"), {{"k.pal", &palette}}},
  };
  for (const Row& row : rows) {
    if (row.args.find(".png") != std::string::npos && !png_decoder_built) continue;
    arrange();
    if (row.args.find(".dev") != std::string::npos && !devices_made) continue;
    RunOptions options;
    options.exe = row.exe;
    options.file_size_limit = row.file_size_limit;
    std::vector<std::string> args;
    std::istringstream words(row.args);
    for (std::string arg; words >> arg;) args.push_back(arg.find('.') == std::string::npos ? arg : at(arg));
    ToolRun run = run_tool(args, options);
    const std::string what = row.args + ": " + run.err;
    EXPECT_EQ(run.status, row.err.empty() ? 0 : 1) << what;
    EXPECT_EQ(run.err, row.err) << what;
    EXPECT_EQ(run.out, "") << what;
    for (const auto& [name, bytes] : row.after) {
      EXPECT_EQ(file_exists(at(name)), bytes != nullptr) << what << name;
      if (bytes) {
        EXPECT_EQ(read_bytes(at(name)), *bytes) << what << name;
      }
    }
    // Nothing else appears but what the row names: no temporary file.
    for (const std::string& name : files_in(dir)) {
      bool named =
          std::any_of(row.after.begin(), row.after.end(), [&](const auto& file) { return file.first == name; });
      EXPECT_TRUE(arranged.count(name) || named) << what << name;
    }
  }
  struct stat device;
  ASSERT_EQ(stat("/dev/full", &device), 0);
  EXPECT_TRUE(S_ISCHR(device.st_mode));
}

}  // namespace
