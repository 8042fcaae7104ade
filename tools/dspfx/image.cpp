#include "image.h"

#include <fontconfig/fontconfig.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "cli.h"

namespace dspfx::tool {
namespace {

// Anchors of the colour ramp: near-black blue, violet, red, orange, pale
// yellow. Lightness rises monotonically, so louder always reads brighter.
constexpr Rgb kRamp[] = {{4, 4, 20},     {48, 16, 92},   {120, 28, 110}, {190, 50, 80},
                         {240, 110, 40}, {250, 190, 60}, {252, 250, 190}};

// DejaVu ships with the font packages every Debian desktop and our CI
// install; fontconfig falls back to any sans face when it is missing.
constexpr const char* kFace = "DejaVu Sans";

void useFont(cairo_t* cr, double size, bool bold) {
  cairo_select_font_face(cr, kFace, CAIRO_FONT_SLANT_NORMAL, bold ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
  cairo_set_font_size(cr, size);
}

cairo_status_t writeToFile(void* closure, const unsigned char* data, unsigned int length) {
  return std::fwrite(data, 1, length, static_cast<FILE*>(closure)) == length ? CAIRO_STATUS_SUCCESS
                                                                             : CAIRO_STATUS_WRITE_ERROR;
}

// cairo and fontconfig keep font caches for the life of the process; handing
// them back at exit keeps leak checkers quiet about memory nobody lost.
struct ReleaseFontCaches {
  ~ReleaseFontCaches() {
    cairo_debug_reset_static_data();
    FcFini();
  }
};

}  // namespace

Canvas::Canvas(int width, int height, Rgb background)
    : width_(width),
      height_(height),
      surface_(cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height)),
      cr_(cairo_create(surface_)) {
  // Made on the first picture, so it is destroyed after every Canvas.
  static ReleaseFontCaches release;
  if (cairo_status(cr_) != CAIRO_STATUS_SUCCESS) {
    throw FileError("cannot make a " + std::to_string(width) + " x " + std::to_string(height) + " picture (" +
                    cairo_status_to_string(cairo_status(cr_)) + ")");
  }
  fillRect(0, 0, width, height, background);
}

Canvas::Canvas(Canvas&& other) noexcept
    : width_(other.width_), height_(other.height_), surface_(other.surface_), cr_(other.cr_) {
  other.surface_ = nullptr;
  other.cr_ = nullptr;
}

Canvas::~Canvas() {
  if (cr_) cairo_destroy(cr_);
  if (surface_) cairo_surface_destroy(surface_);
}

void Canvas::colour(Rgb c, double alpha) const {
  cairo_set_source_rgba(cr_, c.r / 255.0, c.g / 255.0, c.b / 255.0, alpha);
}

void Canvas::line(double x0, double y0, double x1, double y1, Rgb c, double width) const {
  const double nudge = std::fmod(width, 2.0) == 1.0 ? 0.5 : 0.0;
  cairo_move_to(cr_, x0 + (x0 == x1 ? nudge : 0), y0 + (y0 == y1 ? nudge : 0));
  cairo_line_to(cr_, x1 + (x0 == x1 ? nudge : 0), y1 + (y0 == y1 ? nudge : 0));
  colour(c);
  cairo_set_line_width(cr_, width);
  cairo_stroke(cr_);
}

void Canvas::fillRect(double x, double y, double w, double h, Rgb c, double alpha) const {
  cairo_rectangle(cr_, x, y, w, h);
  colour(c, alpha);
  cairo_fill(cr_);
}

double Canvas::textWidth(const std::string& s, double size, bool bold) const {
  useFont(cr_, size, bold);
  cairo_text_extents_t e;
  cairo_text_extents(cr_, s.c_str(), &e);
  return e.x_advance;
}

double Canvas::text(double x, double y, const std::string& s, Rgb c, double size, Align align, bool bold) const {
  const double w = textWidth(s, size, bold);
  const double left = align == Align::left ? x : align == Align::centre ? x - w / 2 : x - w;
  cairo_move_to(cr_, std::round(left), std::round(y));
  colour(c);
  cairo_show_text(cr_, s.c_str());
  cairo_new_path(cr_);
  return w;
}

void Canvas::textUp(double x, double y, const std::string& s, Rgb c, double size) const {
  const double w = textWidth(s, size, false);
  cairo_save(cr_);
  cairo_translate(cr_, std::round(x), std::round(y));
  cairo_rotate(cr_, -M_PI / 2);
  cairo_move_to(cr_, -w / 2, 0);
  colour(c);
  cairo_show_text(cr_, s.c_str());
  cairo_new_path(cr_);
  cairo_restore(cr_);
}

void Canvas::savePng(const std::string& path, const std::string& name) const {
  cairo_surface_flush(surface_);
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) throw FileError(name + ": cannot create (" + std::strerror(errno) + ")");
  const cairo_status_t s = cairo_surface_write_to_png_stream(surface_, writeToFile, f);
  const bool closed = std::fclose(f) == 0;
  if (s != CAIRO_STATUS_SUCCESS || !closed) {
    throw FileError(name + ": cannot write the picture (" +
                    (s != CAIRO_STATUS_SUCCESS ? cairo_status_to_string(s) : std::strerror(errno)) + ")");
  }
}

Rgb colourRamp(double t) {
  if (!(t > 0)) t = 0;
  if (t > 1) t = 1;
  constexpr int kLast = static_cast<int>(sizeof(kRamp) / sizeof(kRamp[0])) - 1;
  const double pos = t * kLast;
  const int i = std::min(static_cast<int>(pos), kLast - 1);
  const double f = pos - i;
  auto mix = [f](uint8_t a, uint8_t b) { return static_cast<uint8_t>(std::lround(a + f * (b - a))); };
  return {mix(kRamp[i].r, kRamp[i + 1].r), mix(kRamp[i].g, kRamp[i + 1].g), mix(kRamp[i].b, kRamp[i + 1].b)};
}

}  // namespace dspfx::tool
