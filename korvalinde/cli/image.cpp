#include "korvalinde/cli/image.hpp"

#include <cairo-pdf.h>
#include <cairo.h>
#include <librsvg/rsvg.h>

#include <cmath>
#include <memory>

namespace korvalinde::cli {

namespace {

cairo_status_t append_bytes(void* closure, const unsigned char* data, unsigned int length) {
  static_cast<std::string*>(closure)->append(reinterpret_cast<const char*>(data), length);
  return CAIRO_STATUS_SUCCESS;
}

struct Unref {
  void operator()(RsvgHandle* h) const { g_object_unref(h); }
  void operator()(cairo_surface_t* s) const { cairo_surface_destroy(s); }
  void operator()(cairo_t* c) const { cairo_destroy(c); }
};

}  // namespace

std::string render_image(std::string_view svg, ImageFormat format, std::string& out) {
  out.clear();
  GError* error = nullptr;
  std::unique_ptr<RsvgHandle, Unref> handle(rsvg_handle_new_from_data(
      reinterpret_cast<const guint8*>(svg.data()), svg.size(), &error));
  if (!handle) {
    std::string why = error != nullptr ? error->message : "the picture can not be read";
    if (error != nullptr) g_error_free(error);
    return why;
  }
  double width = 0, height = 0;
  if (!rsvg_handle_get_intrinsic_size_in_pixels(handle.get(), &width, &height) ||
      !(width >= 1 && height >= 1 && width <= 20000 && height <= 20000))
    return "the picture has no usable size";

  std::unique_ptr<cairo_surface_t, Unref> surface(
      format == ImageFormat::png
          ? cairo_image_surface_create(CAIRO_FORMAT_ARGB32, static_cast<int>(std::ceil(width)),
                                       static_cast<int>(std::ceil(height)))
          : cairo_pdf_surface_create_for_stream(append_bytes, &out, width * 0.75, height * 0.75));
  if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS)
    return cairo_status_to_string(cairo_surface_status(surface.get()));
  {
    std::unique_ptr<cairo_t, Unref> cr(cairo_create(surface.get()));
    if (format == ImageFormat::pdf) cairo_scale(cr.get(), 0.75, 0.75);
    const RsvgRectangle viewport{0, 0, width, height};
    if (!rsvg_handle_render_document(handle.get(), cr.get(), &viewport, &error)) {
      std::string why = error != nullptr ? error->message : "the picture can not be drawn";
      if (error != nullptr) g_error_free(error);
      return why;
    }
    if (cairo_status(cr.get()) != CAIRO_STATUS_SUCCESS)
      return cairo_status_to_string(cairo_status(cr.get()));
  }
  if (format == ImageFormat::png) {
    const cairo_status_t s = cairo_surface_write_to_png_stream(surface.get(), append_bytes, &out);
    if (s != CAIRO_STATUS_SUCCESS) return cairo_status_to_string(s);
  } else {
    cairo_surface_finish(surface.get());
    if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS)
      return cairo_status_to_string(cairo_surface_status(surface.get()));
  }
  return {};
}

}  // namespace korvalinde::cli
