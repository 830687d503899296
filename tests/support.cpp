#include "support.h"

#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "modex/vgamodel.h"
#include "options.h"
#include "pcx/pcx.h"
#include "sprite/sprite.h"

const char* const usage_text =
    "PCX2KOB VGA Mode X sprite compiler\n"
    "PCX file must be 256-color format with VGA palette.\n"
    "\n"
    "pcx2kob [options]\n"
    "  -o <filename>                Write KOB sprite to file\n"
    "  -i <filename>                Read image from PCX file\n"
    "  -tc <index>                  Specify transparency color\n"
    "  -p <filename>                Write PCX palette to file\n"
    "  -i <filename>                May also be an indexed-colour PNG\n"
    "  -grid <width>x<height>       Sprite sheet: one sprite per cell, -o with %d\n"
    "  -bank <filename>             Write every cell (or the image) as one bank of frames\n"
    "  -hotspot <x>,<y>             Bank: every frame's hotspot in its cell (default 0,0)\n"
    "  -mark <index>                Bank: the pixel of this colour in a cell is its hotspot\n";

const std::string& scratch_dir() {
  static const std::string dir = [] {
    char name[] = "/tmp/pcx2kob-tests-XXXXXX";
    // Open to others, so runs as an unprivileged user can reach it.
    if (!mkdtemp(name) || chmod(name, 0755) != 0) abort();
    return std::string(name);
  }();
  static const bool removed_at_exit = [] {
    return atexit([] {
             // Make the read-only and locked rows removable again, then remove all.
             std::string command = "chmod -R u+rwx '" + dir + "' && rm -rf '" + dir + "'";
             if (system(command.c_str()) != 0) fprintf(stderr, "could not remove %s\n", dir.c_str());
           }) == 0;
  }();
  (void)removed_at_exit;
  return dir;
}

std::string scratch_path(const std::string& name) { return scratch_dir() + "/" + name; }

void write_bytes(const std::string& path, const Bytes& bytes) {
  FILE* f = fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr) << path;
  if (!bytes.empty()) {
    ASSERT_EQ(fwrite(bytes.data(), 1, bytes.size(), f), bytes.size());
  }
  fclose(f);
}

Bytes read_bytes(const std::string& path) {
  Bytes bytes;
  FILE* f = fopen(path.c_str(), "rb");
  if (!f) return bytes;
  int c;
  while ((c = fgetc(f)) != EOF) bytes.push_back(static_cast<uint8_t>(c));
  fclose(f);
  return bytes;
}

bool file_exists(const std::string& path) {
  struct stat status;
  return stat(path.c_str(), &status) == 0;
}

std::set<std::string> files_in(const std::string& dir) {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) names.insert(entry.path().filename());
  return names;
}

Bytes bytes_of(const std::string& text) { return Bytes(text.begin(), text.end()); }

Bytes repeat(size_t count, uint8_t value) { return Bytes(count, value); }

Bytes join(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

// Drains both pipes together so neither can fill and stall the child; gives
// up after 10 seconds.
static bool drain(int out_fd, int err_fd, ToolRun& run) {
  pollfd fds[2] = {{out_fd, POLLIN, 0}, {err_fd, POLLIN, 0}};
  std::string* sinks[2] = {&run.out, &run.err};
  int open_count = 2;
  const int deadline_ms = 10000;
  int waited_ms = 0;
  while (open_count > 0) {
    int ready = poll(fds, 2, 100);
    if (ready == 0 && (waited_ms += 100) >= deadline_ms) break;
    if (ready <= 0) continue;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !fds[i].revents) continue;
      char buffer[4096];
      ssize_t got = read(fds[i].fd, buffer, sizeof buffer);
      if (got > 0) {
        sinks[i]->append(buffer, static_cast<size_t>(got));
      } else {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open_count;
      }
    }
  }
  for (pollfd& entry : fds) {
    if (entry.fd >= 0) close(entry.fd);
  }
  return open_count == 0;
}

// In the child: standard streams in place, privileges dropped if asked, exec.
[[noreturn]] static void exec_tool(std::vector<char*>& argv, const RunOptions& options, int out_fd, int err_fd) {
  int in_fd = options.stdin_fd >= 0 ? options.stdin_fd : open("/dev/null", O_RDONLY);
  dup2(in_fd, 0);
  dup2(out_fd, 1);
  dup2(err_fd, 2);
  if (options.file_size_limit >= 0) {
    const rlimit limit = {static_cast<rlim_t>(options.file_size_limit), static_cast<rlim_t>(options.file_size_limit)};
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(126);
  }
  const gid_t nobody = 65534;
  if (options.unprivileged && geteuid() == 0) {
    if (setgroups(0, nullptr) != 0 || setgid(nobody) != 0 || setuid(nobody) != 0) _exit(126);
  }
  execv(options.exe.c_str(), argv.data());
  _exit(127);
}

ToolRun run_tool(const std::vector<std::string>& args, const RunOptions& options) {
  std::vector<char*> argv{const_cast<char*>(options.exe.c_str())};
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  int out_pipe[2], err_pipe[2];
  ToolRun run;
  timespec start, end;
  clock_gettime(CLOCK_MONOTONIC, &start);
  if (pipe2(out_pipe, O_CLOEXEC) != 0 || pipe2(err_pipe, O_CLOEXEC) != 0) return run;
  pid_t pid = fork();
  if (pid == 0) exec_tool(argv, options, out_pipe[1], err_pipe[1]);
  close(out_pipe[1]);
  close(err_pipe[1]);
  if (pid < 0) return run;
  if (!drain(out_pipe[0], err_pipe[0], run)) {
    run.timed_out = true;
    kill(pid, SIGKILL);
  }
  int status;
  waitpid(pid, &status, 0);
  clock_gettime(CLOCK_MONOTONIC, &end);
  run.seconds = static_cast<double>(end.tv_sec - start.tv_sec) + static_cast<double>(end.tv_nsec - start.tv_nsec) / 1e9;
  if (WIFEXITED(status)) run.status = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) run.signal = WTERMSIG(status);
  return run;
}

static void put_le16(Bytes& bytes, size_t at, uint16_t value) {
  bytes[at] = static_cast<uint8_t>(value);
  bytes[at + 1] = static_cast<uint8_t>(value >> 8);
}

Bytes test_palette() {
  Bytes palette;
  for (int i = 0; i < 256; ++i) {
    palette.push_back(static_cast<uint8_t>(i));
    palette.push_back(static_cast<uint8_t>(255 - i));
    palette.push_back(static_cast<uint8_t>(i ^ 0x55));
  }
  return palette;
}

Bytes build_pcx(const Pcx& pcx) {
  size_t palette_block = pcx.with_palette ? 769 : 0;
  Bytes file(128 + pcx.data.size() + palette_block, 0);
  file[0] = pcx.manufacturer;
  file[1] = pcx.version;
  file[2] = pcx.encoding;
  file[3] = pcx.bits;
  put_le16(file, 4, pcx.xmin);
  put_le16(file, 6, pcx.ymin);
  put_le16(file, 8, pcx.xmax);
  put_le16(file, 10, pcx.ymax);
  file[65] = pcx.planes;
  put_le16(file, 66, pcx.stride);
  std::copy(pcx.data.begin(), pcx.data.end(), file.begin() + 128);
  if (pcx.with_palette) {
    Bytes palette = test_palette();
    file[128 + pcx.data.size()] = 0x0C;
    std::copy(palette.begin(), palette.end(), file.end() - 768);
  }
  return file;
}

Bytes rle_encode(const Bytes& pixels) {
  Bytes out;
  for (size_t i = 0; i < pixels.size();) {
    uint8_t value = pixels[i];
    size_t count = 1;
    while (count < 63 && i + count < pixels.size() && pixels[i + count] == value) ++count;
    if (count > 1 || value >= 0xC0) out.push_back(static_cast<uint8_t>(0xC0 | count));
    out.push_back(value);
    i += count;
  }
  return out;
}

Pcx pcx_of(const Bytes& pixels, uint32_t width, uint32_t height, uint32_t stride) {
  Pcx pcx;
  pcx.xmax = static_cast<uint16_t>(width - 1);
  pcx.ymax = static_cast<uint16_t>(height - 1);
  pcx.stride = static_cast<uint16_t>(stride);
  pcx.data = rle_encode(pixels);
  return pcx;
}

void release_image() {
  release_src_pcx();
  free(src_image.pixels);
  src_image.pixels = nullptr;
}

Bytes kob_of(const Bytes& pixels, uint32_t width, uint32_t height) {
  transparent_color = 0;
  std::string path = scratch_path("pixels.kob");
  bool compiled = load_pcx(build_pcx(pcx_of(pixels, width, height, width))) && decode_src_pcx() &&
                  write_sprite(path.c_str(), src_image);
  release_image();
  return compiled ? read_bytes(path) : Bytes();
}

Bytes random_runs(uint32_t width, uint32_t height, unsigned seed) {
  srand(seed);
  Bytes pixels(size_t{width} * height);
  uint8_t value = 0;
  for (uint8_t& pixel : pixels) {
    if (rand() % 4 == 0) value = rand() % 3 ? static_cast<uint8_t>(1 + rand() % 254) : 0;
    pixel = value;
  }
  return pixels;
}

bool load_pcx(const Bytes& file) {
  std::string path = scratch_path("input.pcx");
  write_bytes(path, file);
  release_image();
  return read_src_pcx(path.c_str());
}

static void put_le16(Bytes& out, unsigned value) {
  out.push_back(static_cast<uint8_t>(value & 0xFF));
  out.push_back(static_cast<uint8_t>(value >> 8 & 0xFF));
}

Bytes build_bank(uint16_t cell_width, uint16_t cell_height, uint16_t across, const std::vector<BankFrame>& frames) {
  Bytes bank = bytes_of("KOBBVGAX");
  for (unsigned field : {unsigned{cell_width}, unsigned{cell_height}, unsigned{across}, unsigned(frames.size())})
    put_le16(bank, field);
  size_t sprite_at = bank.size() + 16 * frames.size();
  Bytes sprites;
  for (const BankFrame& frame : frames) {
    bank.push_back(frame.kind);
    bank.push_back(0);
    put_le16(bank, frame.source);
    const size_t offset = frame.sprite.empty() ? 0 : sprite_at + sprites.size();
    put_le16(bank, offset & 0xFFFF);
    put_le16(bank, offset >> 16);
    for (unsigned field : {unsigned{frame.left}, unsigned{frame.top}, unsigned(uint16_t(frame.hotspot_x)),
                           unsigned(uint16_t(frame.hotspot_y))})
      put_le16(bank, field);
    sprites.insert(sprites.end(), frame.sprite.begin(), frame.sprite.end());
  }
  return join({bank, sprites});
}

void patterned_vga(unsigned phase) {
  vga_model_reset(0);
  vga_model_set_mode(0x13);
  for (unsigned p = 0; p < VGA_PLANES; ++p) {
    for (long at = 0; at < VGA_PLANE_SIZE; ++at) vga.plane[p][at] = static_cast<uint8_t>(at * 7 + at / 251 + p * 61);
  }
  while (vga.status_reads < phase) vga_model_in(0x3DA);
}
