#pragma once
// A small RGB raster with the few drawing operations the plots need, saved
// as PNG.
#include <cstdint>
#include <string>
#include <vector>

namespace dspfx::tool {

struct Rgb {
  uint8_t r, g, b;
};

class Image {
 public:
  Image(int width, int height, Rgb background);

  int width() const { return width_; }
  int height() const { return height_; }
  void set(int x, int y, Rgb c);
  Rgb get(int x, int y) const;
  void fillRect(int x0, int y0, int x1, int y1, Rgb c);
  void line(int x0, int y0, int x1, int y1, Rgb c);
  // 5x7 glyphs scaled by scale; lower case is drawn as upper case.
  void text(int x, int y, const std::string& s, Rgb c, int scale = 1);
  static int textWidth(const std::string& s, int scale = 1) {
    return static_cast<int>(s.size()) * 6 * scale;
  }

  // False with a message in error when the file cannot be written.
  bool savePng(const std::string& path, std::string& error) const;

 private:
  int width_, height_;
  std::vector<uint8_t> pixels_;
};

// Perceptual colour ramp for t in 0..1 (dark to bright).
Rgb colourRamp(double t);

}  // namespace dspfx::tool
