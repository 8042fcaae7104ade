#pragma once
// A drawing surface for the tool's pictures: cairo underneath (antialiased
// shapes, text in a real font), written out as PNG.
#include <cairo.h>

#include <cstdint>
#include <string>

namespace dspfx::tool {

struct Rgb {
  uint8_t r, g, b;
};

class Canvas {
 public:
  Canvas(int width, int height, Rgb background);
  ~Canvas();
  Canvas(Canvas&& other) noexcept;
  Canvas(const Canvas&) = delete;
  Canvas& operator=(const Canvas&) = delete;
  Canvas& operator=(Canvas&&) = delete;

  int width() const { return width_; }
  int height() const { return height_; }
  cairo_t* cr() const { return cr_; }

  void colour(Rgb c, double alpha = 1.0) const;
  // Pixel-crisp one-pixel lines on whole coordinates: cairo strokes are
  // centred on the path, so a 1-px line on an integer sits across two rows.
  void line(double x0, double y0, double x1, double y1, Rgb c, double width = 1.0) const;
  void fillRect(double x, double y, double w, double h, Rgb c, double alpha = 1.0) const;
  enum class Align { left, centre, right };
  // Text whose baseline sits at y; returns its advance width.
  double text(double x, double y, const std::string& s, Rgb c, double size = 13, Align align = Align::left,
              bool bold = false) const;
  // Text turned a quarter turn anticlockwise, centred on (x, y).
  void textUp(double x, double y, const std::string& s, Rgb c, double size = 13) const;
  double textWidth(const std::string& s, double size = 13, bool bold = false) const;

  // Writes to path (a temporary name); errors name the user's file, name.
  void savePng(const std::string& path, const std::string& name) const;

 private:
  int width_, height_;
  cairo_surface_t* surface_;
  cairo_t* cr_;
};

// Perceptual colour ramp for t in 0..1 (dark to bright).
Rgb colourRamp(double t);

}  // namespace dspfx::tool
