#include "ThumbnailFixture.h"

#include <cstdio>
#include <fstream>
#include <sstream>

#include "LogCapture.h"
#include "MediaFixtures.h"
#include "ProgramRun.h"

namespace {

void put16(std::string &out, unsigned value, bool big) {
  out += static_cast<char>(big ? value >> 8 : value & 0xFF);
  out += static_cast<char>(big ? value & 0xFF : value >> 8);
}

void put32be(std::string &out, unsigned value) {
  for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>((value >> shift) & 0xFF);
}

unsigned crc32(const std::string &data) {
  unsigned crc = 0xFFFFFFFFu;
  for (unsigned char c : data) {
    crc ^= c;
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

}  // namespace

JpegFacts read_jpeg(const std::string &path) {
  ProgramResult result =
      run_program("/bin/sh", {"-c", "identify -format '%m %w %h %[fx:mean]' '" + path + "' 2>/dev/null"}, "/");
  JpegFacts facts;
  std::istringstream in(result.out);
  std::string format;
  in >> format >> facts.width >> facts.height >> facts.mean;
  facts.valid = result.status == 0 && format == "JPEG" && !in.fail();
  return facts;
}

std::string make_oriented_jpeg(const std::string &folder, const std::string &name, int width, int height,
                               int orientation) {
  std::string plain = make_image(folder, "plain-" + name,
                                 "-size " + std::to_string(width) + "x" + std::to_string(height) +
                                     " gradient:white-black");
  if (plain.empty()) return "";
  std::string jpeg = read_file(plain);
  // APP1 "Exif" with a little-endian TIFF header and one IFD entry: 0x0112.
  std::string tiff = "II*";
  tiff += '\0';
  tiff += std::string("\x08\0\0\0", 4);
  put16(tiff, 1, false);
  put16(tiff, 0x0112, false);
  put16(tiff, 3, false);
  tiff += std::string("\x01\0\0\0", 4);
  put16(tiff, static_cast<unsigned>(orientation), false);
  put16(tiff, 0, false);
  tiff += std::string(4, '\0');
  std::string app1 = "\xFF\xE1";
  put16(app1, static_cast<unsigned>(2 + 6 + tiff.size()), true);
  app1 += std::string("Exif\0\0", 6) + tiff;
  std::string path = folder + "/" + name;
  write_file(path, jpeg.substr(0, 2) + app1 + jpeg.substr(2));
  return path;
}

namespace {
void put_chunk(std::string &png, const std::string &type, const std::string &data) {
  put32be(png, static_cast<unsigned>(data.size()));
  png += type + data;
  put32be(png, crc32(type + data));
}
}  // namespace

std::string make_png_header(const std::string &folder, const std::string &name, unsigned width, unsigned height) {
  std::string ihdr;
  put32be(ihdr, width);
  put32be(ihdr, height);
  ihdr += std::string("\x08\x02\0\0\0", 5);
  // A zlib stream of one stored block of 100 zero bytes: far less than the
  // header declares.
  std::string idat("\x78\x01\x01\x64\x00\x9b\xff", 7);
  idat += std::string(100, '\0');
  put32be(idat, (100u << 16) | 1u);
  std::string png = "\x89PNG\r\n\x1a\n";
  put_chunk(png, "IHDR", ihdr);
  put_chunk(png, "IDAT", idat);
  put_chunk(png, "IEND", "");
  std::string path = folder + "/" + name;
  write_file(path, png);
  return path;
}
