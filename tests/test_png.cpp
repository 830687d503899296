// Indexed PNG input and sprite sheets through the real executable: PNG
// against PCX, files from other tools, tRNS, refused PNGs leaving nothing on
// disk; a sheet's cells against their cut-out images, and the output names.
#include <dlfcn.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>
#include <zlib.h>

#include <filesystem>
#include <random>
#include <set>
#include <tuple>

#include "image.h"
#include "pcx/pcx.h"
#include "png/png.h"
#include "support.h"

namespace {

// A PNG for a table row, which sets by name the fields it needs: by default a
// valid 4 x 3 image of index 3, one sample a byte. Empty PLTE, tRNS and chunks
// are left out; idat, when not empty, stands for the pixels compressed.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
struct PngFile {
  uint32_t width = 4, height = 3;
  uint8_t depth = 8, colour_type = 3;
  bool interlaced = false;
  Bytes pixels = Bytes(12, 3), palette = Bytes(12, 7), alpha, before_idat, after_idat, idat;
};

Bytes be32(size_t v) { return {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)}; }

Bytes png_chunk(const std::string& type, const Bytes& data) {
  Bytes chunk = join({be32(data.size()), bytes_of(type), data});
  return join({chunk, be32(crc32(0, chunk.data() + 4, uInt(chunk.size() - 4)))});
}

// Scanlines behind filter byte 0, samples packed from the high bits down (the
// uint8_t casts drop the bits already written), the Adam7 passes in turn.
Bytes build_png(const PngFile& png) {
  Bytes raw;
  auto pass = [&](const PngPass& p) {
    for (uint32_t y = p.y0; y < png.height && p.x0 < png.width; y += p.dy) {
      uint32_t bits = 0, acc = 0;  // bits not yet written, in the low end of acc
      raw.push_back(0);
      for (uint32_t x = p.x0; x < png.width; x += p.dx) {
        acc = acc << png.depth | png.pixels[y * png.width + x];
        for (bits += png.depth; bits >= 8; bits -= 8) raw.push_back(uint8_t(acc >> (bits - 8)));
      }
      if (bits > 0) raw.push_back(uint8_t(acc << (8 - bits)));
    }
  };
  for (int i = 0; i < (png.interlaced ? 7 : 1); ++i) pass(png.interlaced ? png_adam7_passes[i] : png_whole_image);
  uLongf size = compressBound(raw.size());
  Bytes ihdr = join({be32(png.width), be32(png.height), {png.depth, png.colour_type, 0, 0, png.interlaced}}),
        idat(size);
  compress(idat.data(), &size, raw.data(), raw.size());
  idat.resize(size);
  return join({Bytes(png_signature, png_signature + 8), png_chunk("IHDR", ihdr),
               png.palette.empty() ? Bytes{} : png_chunk("PLTE", png.palette),
               png.alpha.empty() ? Bytes{} : png_chunk("tRNS", png.alpha), png.before_idat,
               png_chunk("IDAT", png.idat.empty() ? idat : png.idat), png.after_idat, png_chunk("IEND", {})});
}

// Built without libspng's header, the tools refuse every PNG: nothing here
// can run.
class Png : public testing::Test {
  void SetUp() override {
    if (!png_decoder_built) GTEST_SKIP() << "built without libspng's header";
  }
};

using Args = std::vector<std::string>;  // command-line arguments; + appends more
Args operator+(Args args, const Args& more) { return args.insert(args.end(), more.begin(), more.end()), args; }

// Seeded indices at every depth, Adam7 or not; entries 0 and 1 one colour, indices beyond PLTE.
TEST_F(Png, SameSpriteAndPaletteAsPcx) {
  const uint32_t sizes[][2] = {{2, 2}, {3, 5}, {9, 9}, {37, 23}, {511, 3}, {5, 256}};
  std::mt19937 rng(2026);
  const std::string at = scratch_path("same"), png_in = at + ".png", pcx_in = at + ".pcx", pal = at + ".pal";
  for (uint8_t depth : {1, 2, 4, 8}) {
    for (bool interlaced : {false, true}) {
      for (auto [w, h] : sizes) {
        SCOPED_TRACE(testing::Message() << int(depth) << " bits " << w << "x" << h << (interlaced ? " Adam7" : ""));
        Bytes pixels(w * h), palette = test_palette();
        uint8_t value = 0;  // in short runs, for runs, literals and skips
        for (uint8_t& pixel : pixels) pixel = value = rng() % 3 ? value : uint8_t(rng() % (1u << depth));
        std::copy_n(palette.begin(), 3, palette.begin() + 3);
        palette.resize(3 * ((1u << depth) / 2 + 1));
        Bytes text = interlaced ? png_chunk("tEXt", bytes_of(std::string("Comment\0after the image", 23))) : Bytes{};
        write_bytes(png_in, build_png({w, h, depth, 3, interlaced, pixels, palette, {}, {}, text}));
        write_bytes(pcx_in, build_pcx(pcx_of(pixels, w, h, w)));
        ASSERT_EQ(run_tool({"-i", png_in, "-o", at + "-png.kob", "-p", pal}).err, "");
        ASSERT_EQ(run_tool({"-i", pcx_in, "-o", at + "-pcx.kob"}).status, 0);
        EXPECT_EQ(read_bytes(at + "-png.kob"), read_bytes(at + "-pcx.kob"));
        palette.resize(image_palette_size);
        EXPECT_EQ(read_bytes(pal), palette);
      }
    }
  }
}

// Pillow's and ImageMagick's PNGs give the indices and palette Pillow sees (.pgm, .pal: make_png.sh).
TEST_F(Png, ThirdPartyFiles) {
  for (std::string name : {"imagemagick-37x23", "imagemagick-interlaced-37x23", "imagemagick-4bit-interlaced-37x23",
                           "imagemagick-2bit-interlaced-37x23", "pillow-1bit-13x7", "pillow-2bit-37x23",
                           "pillow-4bit-9x17", "pillow-8bit-61x40", "pillow-transparent-24x16"}) {
    SCOPED_TRACE(name);
    std::string base = std::string(TEST_DATA_DIR) + "/png/" + name, pgm;
    for (uint8_t byte : read_bytes(base + ".pgm")) pgm += char(byte);
    uint32_t width = 0, height = 0;  // the indices are the last width * height bytes
    ASSERT_EQ(sscanf(pgm.c_str(), "P5 %u %u 255", &width, &height), 2);
    release_image();
    ASSERT_TRUE(read_src_png((base + ".png").c_str()));
    ASSERT_EQ(std::make_pair(src_image.width, src_image.height), std::make_pair(width, height));
    EXPECT_EQ(Bytes(src_image.pixels, src_image.pixels + width * height),
              bytes_of(pgm.substr(pgm.size() - width * height)));
    EXPECT_EQ(Bytes(src_image.palette, src_image.palette + image_palette_size), read_bytes(base + ".pal"));
  }
  release_image();
}

// A 2 x 2 image of one index gives only skips exactly when that index is transparent.
TEST_F(Png, TransparentIndex) {
  const Bytes five = {255, 255, 255, 255, 255, 0};
  const std::vector<std::tuple<std::string, Bytes, Args, int>> rows = {
      // What the row is, tRNS, -tc, the transparent index.
      {"no tRNS", {}, {}, 0},
      {"entry 5 of alpha 0", five, {}, 5},
      {"alpha 0 among partial alphas", {128, 0, 1, 254}, {}, 1},
      {"two entries of alpha 0", {255, 0, 255, 0}, {}, 0},
      {"only partial alphas", {128, 64}, {}, 0},
      {"-tc wins", five, {"-tc", "7"}, 7},
      {"-tc 0 wins too", five, {"-tc", "0"}, 0},
      {"-tc standing last is no -tc", five, {"-tc"}, 5},
  };
  std::string in = scratch_path("trns.png"), out = scratch_path("trns.kob");
  for (const auto& [name, alpha, tc, transparent] : rows) {
    for (int index : {0, 5, transparent}) {
      SCOPED_TRACE(name + ", pixels of " + std::to_string(index));
      write_bytes(in, build_png({2, 2, 8, 3, false, Bytes(4, uint8_t(index)), Bytes(48, 9), alpha}));
      ASSERT_EQ(run_tool(Args{"-i", in, "-o", out} + tc).status, 0);
      Bytes sprite = read_bytes(out);
      bool skips_only = Bytes(sprite.begin() + 16, sprite.end()) == Bytes{0x00, 0x02, 0xff, 0x00, 0x02, 0xff};
      EXPECT_EQ(skips_only, index == transparent);
    }
  }
}

// One line, and no sprite and no palette file. Messages ending in ": " go on
// with libspng's own words for the damage.
TEST_F(Png, RefusedAndDamaged) {
  const Bytes valid = build_png({}), text = png_chunk("tEXt", bytes_of(std::string("Title\0x", 7)));
  const size_t idat = 8 + 25 + 24 + 8;  // signature, IHDR, PLTE, IDAT's length and type
  auto cut = [](const Bytes& file, size_t keep) { return Bytes(file.begin(), file.begin() + long(keep)); };
  auto flip = [](Bytes file, size_t at) { return file[at] ^= 1, file; };
  auto idat_of = [&](const Bytes& file) { return Bytes(file.begin() + idat, file.end() - 16); };
  const std::string in = scratch_path("refused.png"), damaged = "Damaged PNG '" + in + "': ";
  const std::string big = ", larger than the 511 x 256 of a sprite (cut a sheet with -grid)\n";
  const std::vector<std::pair<std::string, std::vector<Bytes>>> rows = {
      {"PNG is 1 x 3, smaller than the 2 x 2 of a sprite\n", {build_png({.width = 1})}},
      {"PNG is 4 x 1, smaller than the 2 x 2 of a sprite\n", {build_png({.height = 1})}},
      {"PNG is 512 x 3" + big, {build_png({.width = 512, .pixels = Bytes(512 * 3)})}},
      {"PNG is 4 x 257" + big, {build_png({.height = 257, .pixels = Bytes(4 * 257)})}},
      {"PNG '" + in + "' is not indexed: save it with a palette (indexed colour, 256 colours at most)\n",
       {build_png({.colour_type = 0}), build_png({.colour_type = 2}), build_png({.colour_type = 4}),
        build_png({.colour_type = 6})}},
      {damaged + "the file ends too early\n", {cut(valid, 8), cut(valid, 20), cut(valid, valid.size() - 12)}},
      {damaged + "the file does not end with IEND, it may be cut short\n",
       {cut(valid, valid.size() - 1), join({valid, {0}})}},
      // Cut in IDAT; CRCs of IHDR, PLTE, IDAT, IEND, a chunk before and after IDAT; bad zlib
      // data, two rows of the three, a cut stream; no PLTE; depths 16 and 3; width 0.
      {damaged,
       {cut(valid, idat + 3), flip(valid, 8 + 25 - 1), flip(valid, 8 + 25 + 24 - 1), flip(valid, valid.size() - 13),
        flip(valid, valid.size() - 1), build_png({.before_idat = flip(text, 15)}),
        build_png({.after_idat = flip(text, 15)}), build_png({.idat = {0x78, 0x9c, 0xff, 0xff, 0xff, 0xff}}),
        build_png({.idat = idat_of(build_png({.height = 2, .pixels = Bytes(8)}))}),
        build_png({.idat = cut(idat_of(valid), 6)}), build_png({.palette = {}}), build_png({.depth = 16}),
        build_png({.depth = 3}), build_png({.width = 0})}}};
  const std::string out = scratch_path("refused.kob"), pal = scratch_path("refused.pal");
  auto refused = [&](const std::string& err) {
    ToolRun run = run_tool({"-i", in, "-o", out, "-p", pal});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err.substr(0, err.back() == ' ' ? err.size() : std::string::npos), err);
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    EXPECT_FALSE(file_exists(out) || file_exists(pal));
  };
  for (const auto& [err, files] : rows) {
    for (const Bytes& file : files) {
      SCOPED_TRACE(testing::Message() << "file " << &file - files.data() << " of " << err);
      write_bytes(in, file);
      refused(err);
    }
  }
  write_bytes(in, valid);  // too large for any sheet, so refused before it is decoded
  ASSERT_EQ(truncate(in.c_str(), off_t{1} << 32), 0);
  refused("PNG '" + in + "' is larger than the 256 MiB this reader takes\n");
  unlink(in.c_str());
}

// A zlib stream of `mib` MiB of zeros in about a thousandth of that: the
// deflate block of one MiB after a full flush, which leaves it nothing
// earlier to refer to, repeated; then an empty final block and the Adler-32
// of the zeros (a stays 1, b counts the bytes).
Bytes zlib_bomb(uint32_t mib) {
  const Bytes zeros(1 << 20, 0);
  z_stream z = {};
  deflateInit(&z, Z_BEST_COMPRESSION);
  auto squeeze = [&] {
    Bytes out(deflateBound(&z, zeros.size()));
    z.next_in = const_cast<Bytef*>(zeros.data());
    z.avail_in = uInt(zeros.size());
    z.next_out = out.data();
    z.avail_out = uInt(out.size());
    deflate(&z, Z_FULL_FLUSH);
    out.resize(out.size() - z.avail_out);
    return out;
  };
  Bytes stream = squeeze(), block = squeeze();
  deflateEnd(&z);
  for (uint32_t i = 2; i < mib; ++i) stream.insert(stream.end(), block.begin(), block.end());
  const uint64_t length = uint64_t{mib} << 20;
  return join({stream, block, {0x03, 0x00}, be32(length % 65521 << 16 | 1)});
}

// Compressed ancillary chunks that inflate to 1000 MiB, before or after the
// image, a 250 MiB private chunk before the image and 250 MiB of IDAT after
// it (both sparse on disk), and a 4 GiB file: each answered within a second
// and 64 MiB (the child's peak as getrusage tells it), by the sprite of the
// image without them or by one line and no files.
TEST_F(Png, DecompressionBombs) {
  const Bytes bomb = zlib_bomb(1000);
  ASSERT_LT(bomb.size(), 1200000u);
  const Bytes z = {0};  // a keyword's end, compression method 0 (zlib)
  const Bytes ztxt = png_chunk("zTXt", join({bytes_of("Comment"), z, z, bomb}));
  const Bytes itxt = png_chunk("iTXt", join({bytes_of("Comment"), z, {1}, z, z, z, bomb}));
  const Bytes iccp = png_chunk("iCCP", join({bytes_of("Profile"), z, z, bomb}));
  const Bytes private_chunk = png_chunk("zbOm", bomb);
  Bytes bad_crc = ztxt;
  bad_crc.back() ^= 1;
  const std::string in = scratch_path("bomb.png"), out = scratch_path("bomb.kob"), pal = scratch_path("bomb.pal");
  const std::string plain = scratch_path("plain.kob");
  write_bytes(in, build_png({}));
  ASSERT_EQ(run_tool({"-i", in, "-o", plain}).status, 0);
  const std::string sparse = "4 GiB";
  // A chunk of 250 MiB of zeros, put into the file at byte `at` as a hole.
  struct Hole {
    std::string type;
    size_t at;
  };
  const size_t before_idat = 8 + 25 + 24, before_iend = build_png({}).size() - 12;
  const std::vector<Hole> holes = {{"prIv", before_idat}, {"IDAT", before_iend}};
  const Bytes hole_marker = bytes_of("hole");
  const std::vector<std::pair<Bytes, std::string>> rows = {
      {join({hole_marker, {0}}), ""},
      {join({hole_marker, {1}}), ""},
      {build_png({.before_idat = ztxt}), ""},
      {build_png({.after_idat = ztxt}), ""},
      {build_png({.before_idat = itxt}), ""},
      {build_png({.before_idat = iccp}), ""},
      {build_png({.after_idat = private_chunk}), ""},
      {build_png({.before_idat = bad_crc}), "Damaged PNG '" + in + "': an ancillary chunk's CRC does not match\n"},
      {bytes_of(sparse), "PNG '" + in + "' is larger than the 256 MiB this reader takes\n"},
  };
  RunOptions measured;  // through peak_rss, which prints the tool's peak memory
  measured.exe = PEAK_RSS;
  for (size_t n = 0; n < rows.size(); ++n) {
    const auto& [file, err] = rows[n];
    SCOPED_TRACE(n);
    unlink(out.c_str());
    unlink(pal.c_str());
    const bool huge = file == bytes_of(sparse);
    const bool holed =
        file.size() == hole_marker.size() + 1 && std::equal(hole_marker.begin(), hole_marker.end(), file.begin());
    write_bytes(in, huge ? build_png({.before_idat = ztxt}) : file);
    ASSERT_EQ(huge ? truncate(in.c_str(), off_t{4} << 30) : 0, 0);
    if (holed) {
      const Hole& hole = holes[file.back()];
      const Bytes whole = build_png({});
      const uint32_t length = 250u << 20;
      write_bytes(in, join({Bytes(whole.begin(), whole.begin() + long(hole.at)), be32(length), bytes_of(hole.type)}));
      const Bytes rest = join({be32(0), Bytes(whole.begin() + long(hole.at), whole.end())});  // a CRC, then the rest
      int fd = open(in.c_str(), O_WRONLY);
      ASSERT_EQ(pwrite(fd, rest.data(), rest.size(), off_t(hole.at + 8 + length)), ssize_t(rest.size()));
      close(fd);
    }
    ToolRun run = run_tool({PCX2KOB_EXE, "-i", in, "-o", out, "-p", pal}, measured);
    EXPECT_EQ(run.err, err);
    EXPECT_EQ(run.status, err.empty() ? 0 : 1);
    EXPECT_LT(run.seconds, 1.0);
    EXPECT_LT(run.out.empty() ? 1L << 30 : std::stol(run.out), 64 * 1024) << run.out;
    EXPECT_EQ(file_exists(pal), err.empty());
    EXPECT_EQ(read_bytes(out), err.empty() ? read_bytes(plain) : Bytes{});
  }
  unlink(in.c_str());
}

// A PNG on a pipe is read as it comes: the sprite and palette of the same
// file on disk, or the same refusal; a PCX on a pipe is still refused.
TEST_F(Png, ThroughAPipe) {
  const std::string on_disk = scratch_path("piped.png"), out = scratch_path("piped.kob"),
                    pal = scratch_path("piped.pal");
  const Bytes valid = build_png({.pixels = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}});
  const Bytes text = png_chunk("tEXt", bytes_of(std::string("Title\0x", 7)));
  const std::vector<std::pair<Bytes, std::string>> rows = {
      {valid, ""},
      {build_png({.interlaced = true, .before_idat = text, .after_idat = text}), ""},
      {read_bytes(std::string(TEST_DATA_DIR) + "/png/pillow-8bit-61x40.png"), ""},
      {Bytes(valid.begin(), valid.end() - 20), "Damaged PNG '/dev/stdin': the file ends too early\n"},
      {join({valid, {0}}), "Damaged PNG '/dev/stdin': the file does not end with IEND, it may be cut short\n"},
      {read_bytes(std::string(EXAMPLES_DIR) + "/slime.pcx"), "Cannot read PCX\n"},
  };
  for (const auto& [file, err] : rows) {
    SCOPED_TRACE(err);
    ASSERT_LT(file.size(), 65536u);  // all in the pipe before the tool starts
    int piped[2];
    ASSERT_EQ(pipe(piped), 0);
    ASSERT_EQ(write(piped[1], file.data(), file.size()), ssize_t(file.size()));
    close(piped[1]);
    RunOptions from_pipe;
    from_pipe.stdin_fd = piped[0];
    unlink(out.c_str());
    ToolRun run = run_tool({"-i", "/dev/stdin", "-o", out, "-p", pal}, from_pipe);
    close(piped[0]);
    EXPECT_EQ(run.err, err);
    EXPECT_EQ(run.status, err.empty() ? 0 : 1);
    if (!err.empty()) continue;
    const Bytes sprite = read_bytes(out), palette = read_bytes(pal);
    write_bytes(on_disk, file);
    ASSERT_EQ(run_tool({"-i", on_disk, "-o", out, "-p", pal}).status, 0);
    EXPECT_EQ(sprite, read_bytes(out));
    EXPECT_EQ(palette, read_bytes(pal));
  }
}

// Without a usable libspng a PNG gets one line naming it; a PCX never needs it.
TEST_F(Png, WithoutLibspng) {
  std::string dir = scratch_path("no-libspng"), png = dir + "/image.png", out = dir + "/image.kob";
  ASSERT_EQ(system(("mkdir -p '" + dir + "/broken' '" + dir + "/foreign'").c_str()), 0);
  write_bytes(dir + "/broken/libspng.so.0", bytes_of("not a library"));
  Dl_info zlib;  // a real library that is not libspng
  ASSERT_NE(dladdr(reinterpret_cast<void*>(&crc32), &zlib), 0);
  write_bytes(dir + "/foreign/libspng.so.0", read_bytes(zlib.dli_fname));
  write_bytes(png, build_png({}));
  const std::vector<std::vector<std::string>> rows = {
      {"broken", png,
       "Cannot read PNG without libspng (Debian package libspng0): " + dir + "/broken/libspng.so.0: file too short\n"},
      {"foreign", png, "Cannot read PNG: libspng.so.0 has no spng_ctx_new, it is too old\n"},
      {"broken", std::string(EXAMPLES_DIR) + "/slime.pcx", ""},
  };
  for (const auto& row : rows) {
    setenv("LD_LIBRARY_PATH", (dir + "/" + row[0]).c_str(), 1);
    ToolRun run = run_tool({"-i", row[1], "-o", out});
    unsetenv("LD_LIBRARY_PATH");
    EXPECT_EQ(run.err, row[2]) << row[0];
    EXPECT_EQ(file_exists(out), row[2].empty()) << row[0];
    unlink(out.c_str());
  }
}

// Seeded pixels, half transparent, with cell 0 left empty.
TEST(Sheet, CellsAreTheSpritesOfTheirCutOutImages) {
  const std::vector<std::tuple<bool, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t, Args>> rows = {
      // PNG or PCX, columns, rows, cell width and height, PCX bytes a line beyond the width, -tc.
      {true, 3, 2, 13, 7, 0, {}},           {true, 1, 1, 40, 30, 0, {}},  {true, 2, 3, 6, 5, 0, {"-tc", "0x21"}},
      {false, 2, 1, 511, 4, 0, {}},         {false, 2, 2, 3, 256, 0, {}}, {false, 3, 2, 5, 3, 1, {}},
      {false, 1, 4, 8, 2, 0, {"-tc", "7"}},
  };
  std::mt19937 rng(10);
  for (const auto& [png, columns, lines, cw, ch, padding, tc] : rows) {
    if (png && !png_decoder_built) continue;
    const std::string grid = std::to_string(cw) + "x" + std::to_string(ch), dir = scratch_path("sheet-" + grid);
    ASSERT_TRUE(std::filesystem::create_directory(dir));
    SCOPED_TRACE(dir);
    uint32_t width = columns * cw, height = lines * ch, stride = width + padding;
    Bytes pixels(stride * height);
    uint8_t value = 0;
    for (uint8_t& pixel : pixels) pixel = value = rng() % 4 ? value : rng() % 2 ? 0 : uint8_t(rng());
    for (uint32_t y = 0; y < ch; ++y) std::fill_n(pixels.begin() + y * stride, cw, 0);
    write_bytes(dir + "/sheet", png ? build_png({width, height, 8, 3, false, pixels, test_palette()})
                                    : build_pcx(pcx_of(pixels, width, height, stride)));
    Args args = {"-i", dir + "/sheet", "-o", dir + "/cell%03d.kob", "-p", dir + "/sheet.pal", "-grid", grid};
    ASSERT_EQ(run_tool(args + tc).err, "");
    EXPECT_EQ(read_bytes(dir + "/sheet.pal"), test_palette());
    ASSERT_EQ(files_in(dir).size(), columns * lines + 2);
    for (uint32_t cell = 0; cell < columns * lines; ++cell) {
      Bytes cut;
      for (uint32_t i = 0; i < cw * ch; ++i)
        cut.push_back(pixels[(cell / columns * ch + i / cw) * stride + cell % columns * cw + i % cw]);
      write_bytes(dir + "/single", build_pcx(pcx_of(cut, cw, ch, cw)));
      ASSERT_EQ(run_tool(Args{"-i", dir + "/single", "-o", dir + "/single.kob"} + tc).status, 0);
      std::string number = std::to_string(cell), name = "/cell" + std::string(3 - number.size(), '0') + number;
      EXPECT_EQ(read_bytes(dir + name + ".kob"), read_bytes(dir + "/single.kob")) << name;
    }
  }
}

// Output names and refused grids and sheets, on a sheet of two 2 x 2 cells
// unless a row names its own input; a refusal leaves the directory empty.
TEST(Sheet, NamesAndRefusals) {
  const std::string pcx = scratch_path("two-cells.pcx"), wide_pcx = scratch_path("wide.pcx");
  const std::string huge_pcx = scratch_path("huge.pcx"), wide_png = scratch_path("wide.png");
  write_bytes(pcx, build_pcx(pcx_of(Bytes(8, 1), 4, 2, 4)));
  write_bytes(wide_pcx, build_pcx(pcx_of(Bytes(1024 * 6, 1), 1024, 6, 1024)));
  write_bytes(huge_pcx, build_pcx({.xmax = 8192, .stride = 8194}));  // 8193 x 2, no data
  write_bytes(wide_png, build_png({.width = 8192, .height = 4, .pixels = Bytes(8192 * 4, 1), .palette = Bytes(6)}));
  const std::string bad_grid = "': give the cell size as <width>x<height>, for instance 32x48\n";
  const std::string range = " is out of range: a cell is 2 to 511 pixels wide and 2 to 256 high\n";
  const std::string name = "' must hold the cell number as one %d (or %02d and the like) with -grid\n";
  const std::string zeros(98, '0');
  auto c = [](int count) {  // c0 to c<count - 1> and the palette
    std::set<std::string> names = {"pal"};
    for (int i = 0; i < count; ++i) names.insert(std::string("c").append(std::to_string(i)));
    return names;
  };
  using Row = std::tuple<std::string, std::string, std::string, std::set<std::string>, std::string>;
  std::vector<Row> rows = {
      // Pattern, grid, input, the files in the directory afterwards, message.
      {"c%d.kob", "2x2", pcx, {"c0.kob", "c1.kob", "pal"}, ""},
      {"c%02d.kob", "2x2", pcx, {"c00.kob", "c01.kob", "pal"}, ""},
      {"c%0d.kob", "2x2", pcx, {"c0.kob", "c1.kob", "pal"}, ""},
      {"c%3d", "2x2", pcx, {"c  0", "c  1", "pal"}, ""},
      {"%%c%d%%", "2x2", pcx, {"%c0%", "%c1%", "pal"}, ""},
      {"c%%%d", "2x2", pcx, {"c%0", "c%1", "pal"}, ""},
      {"c%099d", "2x2", pcx, {"c" + zeros + "0", "c" + zeros + "1", "pal"}, ""},
      {"c%d", "4x2", pcx, c(1), ""},
      {"c%d", "256x2", wide_pcx, c(12), ""},
      {"c%d", "256x4", wide_png, c(32), ""},
      {"c%d", "", wide_pcx, {}, "PCX too big\n"},
      {"c%d", "", wide_png, {}, "PNG is 8192 x 4, larger than the 511 x 256 of a sprite (cut a sheet with -grid)\n"},
      {"c%d", "300x2", wide_pcx, {}, "PCX sheet is 1024 x 6, which does not fit a whole number of 300 x 2 cells\n"},
      {"c%d", "256x4", wide_pcx, {}, "PCX sheet is 1024 x 6, which does not fit a whole number of 256 x 4 cells\n"},
      {"c%d", "3x2", huge_pcx, {}, "PCX sheet is 8193 x 2, larger than 8192 x 8192\n"},
      {"c%d", "3x3", wide_png, {}, "PNG sheet is 8192 x 4, which does not fit a whole number of 3 x 3 cells\n"},
  };
  for (std::string grid : {"32X48", "32x", "x48", "32", "32x48x2", "+32x48", "32x48 "}) {
    rows.push_back({"c%d", grid, pcx, {}, "Bad grid '" + grid + bad_grid});
  }
  for (std::string grid : {"1x2", "512x2", "2x257", "99999999999999999999x2"}) {
    rows.push_back({"c%d", grid, pcx, {}, "Grid cell " + grid + range});
  }
  for (const char* refused : {"c.kob", "c%%d.kob", "c%d%d.kob", "c%d-%02d", "c%s.kob", "c%x.kob", "c%u", "c%ld",
                              "c%-2d", "c%+d", "c% d", "c%.2d", "c%*d", "c%100d", "c%", "c%d%", ""}) {
    rows.push_back({refused, "2x2", pcx, {}, name});
  }
  for (size_t n = 0; n < rows.size(); ++n) {
    const auto& [pattern, grid, input, files, err] = rows[n];
    if (input == wide_png && !png_decoder_built) continue;
    const std::string dir = scratch_path("names-" + std::to_string(n));
    ASSERT_TRUE(std::filesystem::create_directory(dir));
    SCOPED_TRACE(pattern + " " + grid);
    Args args = {"-i", input, "-o", dir + "/" + pattern, "-p", dir + "/pal"};
    EXPECT_EQ(run_tool(grid.empty() ? args : args + Args{"-grid", grid}).err,
              err == name ? "Output name '" + dir + "/" + pattern + name : err);
    EXPECT_EQ(files_in(dir), files);
  }
}

}  // namespace
