// A stand-in for a person in front of an X display, for the window smoke
// test: waits until the screen shows something other than one flat colour,
// says what it saw, and presses a key in the largest window.
//
//   orb_xprobe [--wait-ms N] [--key NAME] [--ppm FILE]
//
// Prints "shown=1 colours=N window=WxH" (or "shown=0 ...") and exits 0 when
// something was shown, 1 when the screen stayed flat, 2 without a display.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <thread>

namespace {

struct TWindowFound {
    Window Id = 0;
    int X = 0, Y = 0, Width = 0, Height = 0;
};

// The largest mapped top-level window.
TWindowFound LargestWindow(Display* display) {
    TWindowFound best;
    Window root = DefaultRootWindow(display), parent = 0, *children = nullptr;
    unsigned int count = 0;
    if (!XQueryTree(display, root, &root, &parent, &children, &count)) return best;
    for (unsigned int i = 0; i < count; ++i) {
        XWindowAttributes attributes;
        if (!XGetWindowAttributes(display, children[i], &attributes) || attributes.map_state != IsViewable) continue;
        if (attributes.width * attributes.height > best.Width * best.Height)
            best = {children[i], attributes.x, attributes.y, attributes.width, attributes.height};
    }
    if (children) XFree(children);
    return best;
}

// Distinct colours inside the window's area of the screen (sampled); the
// area is also written to `ppm` as a picture when a name is given.
size_t ColoursShown(Display* display, const TWindowFound& window, const std::string& ppm) {
    XImage* image = XGetImage(display, DefaultRootWindow(display), window.X, window.Y, unsigned(window.Width),
                              unsigned(window.Height), AllPlanes, ZPixmap);
    if (!image) return 0;
    std::set<unsigned long> colours;
    for (int y = 0; y < window.Height; y += 4)
        for (int x = 0; x < window.Width; x += 4) colours.insert(XGetPixel(image, x, y) & 0xFFFFFF);
    if (!ppm.empty()) {
        if (FILE* out = std::fopen(ppm.c_str(), "wb")) {
            std::fprintf(out, "P6\n%d %d\n255\n", window.Width, window.Height);
            for (int y = 0; y < window.Height; ++y)
                for (int x = 0; x < window.Width; ++x) {
                    const unsigned long pixel = XGetPixel(image, x, y);
                    const unsigned char rgb[3] = {static_cast<unsigned char>(pixel >> 16),
                                                  static_cast<unsigned char>(pixel >> 8),
                                                  static_cast<unsigned char>(pixel)};
                    std::fwrite(rgb, 1, 3, out);
                }
            std::fclose(out);
        }
    }
    XDestroyImage(image);
    return colours.size();
}

}  // namespace

int main(int argc, char** argv) {
    int waitMs = 60000;
    std::string keyName = "Escape", ppm;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--wait-ms") == 0) waitMs = std::atoi(argv[i + 1]);
        if (std::strcmp(argv[i], "--key") == 0) keyName = argv[i + 1];
        if (std::strcmp(argv[i], "--ppm") == 0) ppm = argv[i + 1];
    }
    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        std::printf("shown=0 no display\n");
        return 2;
    }
    // A window of the player appears and draws its first frame; a show that
    // paints only one colour everywhere would not pass, and no show should.
    const auto start = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(1));
    TWindowFound window;
    size_t colours = 0;
    while (std::chrono::steady_clock::now() - start < std::chrono::milliseconds(waitMs)) {
        window = LargestWindow(display);
        if (window.Id && window.Width > 16 && window.Height > 16) {
            colours = ColoursShown(display, window, ppm);
            if (colours > 16) break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
    }
    const bool shown = colours > 16;
    std::printf("shown=%d colours=%zu window=%dx%d\n", shown ? 1 : 0, colours, window.Width, window.Height);
    std::fflush(stdout);
    if (window.Id) {
        XSetInputFocus(display, window.Id, RevertToPointerRoot, CurrentTime);
        XTestFakeMotionEvent(display, -1, window.X + window.Width / 2, window.Y + window.Height / 2, CurrentTime);
        const KeyCode key = XKeysymToKeycode(display, XStringToKeysym(keyName.c_str()));
        XTestFakeKeyEvent(display, key, True, CurrentTime);
        XTestFakeKeyEvent(display, key, False, CurrentTime);
        XFlush(display);
    }
    XCloseDisplay(display);
    return shown ? 0 : 1;
}
