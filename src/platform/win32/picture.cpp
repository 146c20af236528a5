// The picture of a window as a person sees it (its painted client area with its controls over
// it), the window.png file written from it, and the stand-in's clock that paces that file.

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "platform/replace_file.h"
#include "platform/simconnect/by_itself.h"  // the picture file follows the simulator's mode
#include "platform/win32/canvas.h"
#include "platform/win32/window_object.h"

namespace kvo::win32impl {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr auto kPictureInterval = 1s;

enum class PictureSwitch { Automatic, On, Off };

struct PictureFile {
  std::mutex mutex;
  PictureSwitch mode = PictureSwitch::Automatic;
  std::filesystem::path folder;  // On
  bool changed = false;          // the picture changed since it was last written
  std::optional<Clock::time_point> lastWritten;
  bool failureReported = false;
  // What the file holds: a repaint that shows the same pixels (the counters repaint every second)
  // is not encoded and written again.
  std::filesystem::path writtenTo;
  int writtenWidth = 0;
  std::vector<COLORREF> writtenPixels;
};

PictureFile& pictureFile() {
  static PictureFile instance;
  return instance;
}

struct StandInClock {
  std::mutex mutex;
  bool manual = false;
  Clock::time_point now;  // manual
};

StandInClock& standInClock() {
  static StandInClock instance;
  return instance;
}

COLORREF colourOf(std::uint32_t pixel) {
  return RGB(static_cast<BYTE>(pixel >> 16), static_cast<BYTE>(pixel >> 8), static_cast<BYTE>(pixel));
}

std::uint32_t pixelOf(COLORREF colour) {
  return ((colour & 0xFF) << 16) | (colour & 0xFF00) | ((colour >> 16) & 0xFF);
}

// The surface's pixels (32 bits each, the top byte unused or alpha) into the picture of its
// width and height (drawMutex held).
void readPixels(cairo_surface_t* surface, win32test::WindowPicture& picture) {
  const unsigned char* data = cairo_image_surface_get_data(surface);
  const int stride = cairo_image_surface_get_stride(surface);
  picture.pixels.reserve(static_cast<std::size_t>(picture.width) * static_cast<std::size_t>(picture.height));
  for (int y = 0; y < picture.height && data != nullptr; ++y) {
    for (int x = 0; x < picture.width; ++x) {
      std::uint32_t value = 0;
      std::memcpy(&value, data + static_cast<std::ptrdiff_t>(y) * stride + x * 4, sizeof value);
      picture.pixels.push_back(colourOf(value));
    }
  }
}

// Draws the window with its visible descendants onto the surface, its client origin at
// `origin`, inside `clip` (surface coordinates); the texts that show go to `texts`.
void composeWindow(HWND window, cairo_surface_t* surface, POINT origin, const RECT& clip,
                   std::vector<DrawOperation>& texts) {
  auto object = findWindow(window);
  if (!object) {
    return;
  }
  if (!drawControl(window, surface, origin, clip, texts)) {
    std::lock_guard lock(drawMutex());
    if (object->canvas) {
      cairo_t* cairo = cairo_create(surface);
      cairo_rectangle(cairo, clip.left, clip.top, clip.right - clip.left, clip.bottom - clip.top);
      cairo_clip(cairo);
      cairo_set_source_surface(cairo, object->canvas->surface(), origin.x, origin.y);
      cairo_paint(cairo);
      cairo_destroy(cairo);
      for (const DrawOperation& op : object->canvas->operations) {
        const RECT at = offsetRect(op.rect, origin);
        if (op.kind == DrawKind::Text && !isEmpty(intersection(at, clip))) {
          texts.push_back(op);
          texts.back().rect = at;
        }
      }
    }
  }
  for (HWND child : childrenOf(window)) {
    auto childObject = findWindow(child);
    if (!childObject) {
      continue;
    }
    RECT placed{};
    {
      std::lock_guard lock(childObject->mutex);
      if ((childObject->style & WS_VISIBLE) == 0) {
        continue;
      }
      placed = offsetRect(childObject->rect, origin);
    }
    const RECT childClip = intersection(clip, placed);
    if (!isEmpty(childClip)) {
      composeWindow(child, surface, POINT{placed.left, placed.top}, childClip, texts);
    }
  }
}

cairo_status_t appendBytes(void* closure, const unsigned char* data, unsigned int length) {
  auto* out = static_cast<std::vector<std::uint8_t>*>(closure);
  out->insert(out->end(), data, data + length);
  return CAIRO_STATUS_SUCCESS;
}

// The folder the picture file goes to now; nullopt when none is written.
std::optional<std::filesystem::path> pictureFolder(PictureSwitch mode, const std::filesystem::path& folder) {
  switch (mode) {
    case PictureSwitch::On:
      return folder;
    case PictureSwitch::Off:
      return std::nullopt;
    case PictureSwitch::Automatic:
      break;
  }
  return simstandin::scenarioFolderInUse();
}

}  // namespace

Clock::time_point standInNow() {
  auto& c = standInClock();
  std::lock_guard lock(c.mutex);
  return c.manual ? c.now : Clock::now();
}

bool manualClock() {
  auto& c = standInClock();
  std::lock_guard lock(c.mutex);
  return c.manual;
}

void pictureChanged() {
  auto& file = pictureFile();
  {
    std::lock_guard lock(file.mutex);
    if (file.mode == PictureSwitch::Off || file.changed) {
      return;  // nothing to write, or the window's thread knows already
    }
    file.changed = true;
  }
  if (auto main = findWindow(firstTopLevelWindow())) {
    wakeThread(main->ownerThread);
  }
}

std::optional<Clock::time_point> servePictureFile(std::thread::id thread) {
  auto& file = pictureFile();
  {
    std::lock_guard lock(file.mutex);
    if (!file.changed) {
      return std::nullopt;
    }
  }
  const HWND main = firstTopLevelWindow();
  const auto mainObject = findWindow(main);
  if (mainObject && mainObject->ownerThread != thread) {
    return std::nullopt;  // the window's own thread writes it
  }
  PictureSwitch mode = PictureSwitch::Automatic;
  std::filesystem::path folder;
  {
    std::lock_guard lock(file.mutex);
    const auto now = standInNow();
    if (mainObject && file.lastWritten && now < *file.lastWritten + kPictureInterval) {
      return *file.lastWritten + kPictureInterval;
    }
    file.changed = false;
    if (!mainObject) {
      return std::nullopt;
    }
    file.lastWritten = now;
    mode = file.mode;
    folder = file.folder;
  }
  const auto target = pictureFolder(mode, folder);
  if (!target) {
    return std::nullopt;
  }
  auto picture = win32test::windowPicture(main);
  if (!picture) {
    return std::nullopt;
  }
  const std::filesystem::path path = *target / win32test::kWindowPictureFileName;
  {
    std::lock_guard lock(file.mutex);
    std::error_code ec;
    if (file.writtenTo == path && file.writtenWidth == picture->width && file.writtenPixels == picture->pixels &&
        std::filesystem::exists(path, ec)) {
      return std::nullopt;
    }
  }
  const auto png = win32test::pngOf(*picture);
  const std::string_view bytes(reinterpret_cast<const char*>(png.data()), png.size());
  const bool written = platformimpl::writeFileReplacing(path, bytes);
  std::lock_guard lock(file.mutex);
  file.writtenTo = written ? path : std::filesystem::path();
  file.writtenWidth = picture->width;
  file.writtenPixels = written ? std::move(picture->pixels) : std::vector<COLORREF>();
  if (!written) {
    if (!file.failureReported) {
      file.failureReported = true;
      std::fprintf(stderr, "stand-in window system: cannot write %s in %s\n", win32test::kWindowPictureFileName,
                   target->string().c_str());
    }
  }
  return std::nullopt;
}

}  // namespace kvo::win32impl

namespace kvo::win32test {

using kvo::win32impl::drawMutex;

COLORREF WindowPicture::pixel(int x, int y) const {
  if (x < 0 || y < 0 || x >= width || y >= height) {
    return CLR_INVALID;
  }
  return pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + static_cast<std::size_t>(x)];
}

const DrawOperation* WindowPicture::findText(std::u16string_view wanted) const {
  const auto found = std::find_if(texts.begin(), texts.end(), [&](const DrawOperation& t) { return t.text == wanted; });
  return found == texts.end() ? nullptr : &*found;
}

std::vector<DrawOperation> drawOperations(HWND window) {
  auto object = kvo::win32impl::findWindow(window);
  if (!object) {
    return {};
  }
  std::lock_guard lock(drawMutex());
  return object->canvas ? object->canvas->operations : std::vector<DrawOperation>{};
}

std::optional<WindowPicture> windowPicture(HWND window) {
  using namespace kvo::win32impl;
  if (!findWindow(window)) {
    return std::nullopt;
  }
  const RECT client = clientRect(window);
  WindowPicture picture;
  picture.width = std::max<int>(client.right, 0);
  picture.height = std::max<int>(client.bottom, 0);
  cairo_surface_t* surface = nullptr;
  {
    std::lock_guard lock(drawMutex());
    surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, picture.width, picture.height);
  }
  composeWindow(window, surface, POINT{0, 0}, client, picture.texts);
  std::lock_guard lock(drawMutex());
  cairo_surface_flush(surface);
  readPixels(surface, picture);
  cairo_surface_destroy(surface);
  return picture;
}

std::vector<std::uint8_t> pngOf(const WindowPicture& picture) {
  using namespace kvo::win32impl;
  std::vector<std::uint8_t> out;
  std::lock_guard lock(drawMutex());
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, picture.width, picture.height);
  cairo_surface_flush(surface);
  unsigned char* data = cairo_image_surface_get_data(surface);
  const int stride = cairo_image_surface_get_stride(surface);
  for (int y = 0; y < picture.height && data != nullptr; ++y) {
    for (int x = 0; x < picture.width; ++x) {
      const std::uint32_t value = pixelOf(picture.pixel(x, y));
      std::memcpy(data + static_cast<std::ptrdiff_t>(y) * stride + x * 4, &value, sizeof value);
    }
  }
  cairo_surface_mark_dirty(surface);
  cairo_surface_write_to_png_stream(surface, appendBytes, &out);
  cairo_surface_destroy(surface);
  addTextsChunk(out, picture.texts);
  return out;
}

std::optional<WindowPicture> pictureFromPng(const std::vector<std::uint8_t>& png) {
  using namespace kvo::win32impl;
  struct Reader {
    const std::vector<std::uint8_t>* bytes;
    std::size_t at = 0;
  } reader{&png};
  const auto read = [](void* closure, unsigned char* data, unsigned int length) {
    auto* r = static_cast<Reader*>(closure);
    if (r->bytes->size() - r->at < length) return CAIRO_STATUS_READ_ERROR;
    std::memcpy(data, r->bytes->data() + r->at, length);
    r->at += length;
    return CAIRO_STATUS_SUCCESS;
  };
  std::lock_guard lock(drawMutex());
  cairo_surface_t* surface = cairo_image_surface_create_from_png_stream(read, &reader);
  if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
    cairo_surface_destroy(surface);
    return std::nullopt;
  }
  WindowPicture picture;
  picture.width = cairo_image_surface_get_width(surface);
  picture.height = cairo_image_surface_get_height(surface);
  readPixels(surface, picture);
  cairo_surface_destroy(surface);
  picture.texts = textsChunkOf(png);
  return picture;
}

void writeWindowPicturesTo(const std::filesystem::path& folder) {
  auto& file = kvo::win32impl::pictureFile();
  std::lock_guard lock(file.mutex);
  file.mode = kvo::win32impl::PictureSwitch::On;
  file.folder = folder;
}

void stopWindowPictures() {
  auto& file = kvo::win32impl::pictureFile();
  std::lock_guard lock(file.mutex);
  file.mode = kvo::win32impl::PictureSwitch::Off;
  file.changed = false;
}

void resetWindowPictures() {
  {
    auto& file = kvo::win32impl::pictureFile();
    std::lock_guard lock(file.mutex);
    file.mode = kvo::win32impl::PictureSwitch::Automatic;
    file.folder.clear();
    file.changed = false;
    file.lastWritten.reset();
    file.failureReported = false;
    file.writtenTo.clear();
    file.writtenPixels.clear();
  }
  auto& clock = kvo::win32impl::standInClock();
  std::lock_guard lock(clock.mutex);
  clock.manual = false;
}

void useManualClock() {
  auto& clock = kvo::win32impl::standInClock();
  std::lock_guard lock(clock.mutex);
  if (!clock.manual) {
    clock.manual = true;
    clock.now = std::chrono::steady_clock::now();
  }
}

void advanceClock(std::chrono::milliseconds duration) {
  {
    auto& clock = kvo::win32impl::standInClock();
    std::lock_guard lock(clock.mutex);
    clock.now += duration;
  }
  kvo::win32impl::wakeAllThreads();  // a picture may have come due
}

}  // namespace kvo::win32test
