#include "QlLib/Platform/qlHost.h"

#include <cmath>
#include <cstdio>

#include "QlLib/Platform/qlGlContext.h"
#include "QlLib/qpStringUtils.h"

namespace ql {

namespace {

struct TKeyName {
    const char* Name;
    uint16_t Key;
};

// The first name of a key is the one VirtualKeyName gives back.
constexpr TKeyName kKeyNames[] = {
    {"Backspace", vk::Back},
    {"Back", vk::Back},
    {"Tab", vk::Tab},
    {"Enter", vk::Return},
    {"Return", vk::Return},
    {"Shift", vk::Shift},
    {"Ctrl", vk::Control},
    {"Control", vk::Control},
    {"Alt", vk::Menu},
    {"Menu", vk::Menu},
    {"Pause", vk::Pause},
    {"CapsLock", vk::Capital},
    {"Escape", vk::Escape},
    {"Esc", vk::Escape},
    {"Space", vk::Space},
    {"PageUp", vk::Prior},
    {"Prior", vk::Prior},
    {"PageDown", vk::Next},
    {"Next", vk::Next},
    {"End", vk::End},
    {"Home", vk::Home},
    {"Left", vk::Left},
    {"Up", vk::Up},
    {"Right", vk::Right},
    {"Down", vk::Down},
    {"PrintScreen", vk::Snapshot},
    {"Insert", vk::Insert},
    {"Delete", vk::Delete},
    {"LWin", vk::LWin},
    {"RWin", vk::RWin},
    {"Apps", vk::Apps},
    {"Multiply", vk::Multiply},
    {"Add", vk::Add},
    {"Subtract", vk::Subtract},
    {"Decimal", vk::Decimal},
    {"Divide", vk::Divide},
    {"NumLock", vk::NumLock},
    {"ScrollLock", vk::Scroll},
    {"BrowserBack", vk::BrowserBack},
    {"BrowserForward", vk::BrowserForward},
    {"VolumeMute", vk::VolumeMute},
    {"VolumeDown", vk::VolumeDown},
    {"VolumeUp", vk::VolumeUp},
    {"MediaNext", vk::MediaNextTrack},
    {"MediaNextTrack", vk::MediaNextTrack},
    {"MediaPrev", vk::MediaPrevTrack},
    {"MediaPrevTrack", vk::MediaPrevTrack},
    {"MediaStop", vk::MediaStop},
    {"MediaPlayPause", vk::MediaPlayPause},
    {"Semicolon", vk::Oem1},
    {"Plus", vk::OemPlus},
    {"Equals", vk::OemPlus},
    {"Comma", vk::OemComma},
    {"Minus", vk::OemMinus},
    {"Period", vk::OemPeriod},
    {"Slash", vk::Oem2},
    {"Backquote", vk::Oem3},
    {"LeftBracket", vk::Oem4},
    {"Backslash", vk::Oem5},
    {"RightBracket", vk::Oem6},
    {"Quote", vk::Oem7},
};

bool SameAscii(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

// A decimal or "0x" hexadecimal number up to 65535; -1 otherwise.
int32_t SmallNumber(std::string_view text) {
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    if (text.empty() || text.size() > 5) return -1;
    int32_t value = 0;
    for (char c : text) {
        int digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (base == 16 && c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else
            return -1;
        value = value * base + digit;
    }
    return value <= 0xFFFF ? value : -1;
}

void AppendUtf8Escaped(std::string& out, std::string_view utf8) {
    // Decoding through the u16 form replaces invalid bytes, which keeps the
    // line valid JSON whatever a show's texts hold.
    const std::u16string wide = FromUtf8(utf8);
    for (char16_t c : wide) {
        switch (c) {
            case u'"':
                out += "\\\"";
                break;
            case u'\\':
                out += "\\\\";
                break;
            case u'\n':
                out += "\\n";
                break;
            case u'\r':
                out += "\\r";
                break;
            case u'\t':
                out += "\\t";
                break;
            default:
                if (c < 0x20 || (c >= 0xD800 && c <= 0xDFFF) || c == 0x2028 || c == 0x2029) {
                    char buffer[8];
                    std::snprintf(buffer, sizeof buffer, "\\u%04x", static_cast<unsigned>(c));
                    out += buffer;
                } else {
                    out += ToUtf8(std::u16string_view(&c, 1));
                }
        }
    }
}

}  // namespace

uint16_t VirtualKeyFromName(std::string_view name) {
    if (name.size() == 1) {
        const char c = name[0];
        if (c >= 'a' && c <= 'z') return static_cast<uint16_t>(c - 'a' + 'A');
        if ((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return static_cast<uint16_t>(c);
    }
    for (const TKeyName& entry : kKeyNames)
        if (SameAscii(entry.Name, name)) return entry.Key;
    if (name.size() >= 2 && (name[0] == 'F' || name[0] == 'f')) {
        const int32_t n = SmallNumber(name.substr(1));
        if (n >= 1 && n <= 24) return static_cast<uint16_t>(vk::F1 + n - 1);
    }
    if (name.size() >= 4 && SameAscii(name.substr(0, 3), "num")) {
        const int32_t n = SmallNumber(name.substr(3));
        if (n >= 0 && n <= 9 && name.size() == 4) return static_cast<uint16_t>(vk::Numpad0 + n);
    }
    if (!name.empty() && name[0] >= '0' && name[0] <= '9' && name.size() > 1) {
        const int32_t n = SmallNumber(name);
        if (n > 0 && n < 256) return static_cast<uint16_t>(n);
    }
    return 0;
}

std::string VirtualKeyName(uint16_t key) {
    if ((key >= 'A' && key <= 'Z') || (key >= '0' && key <= '9'))
        return std::string(1, static_cast<char>(key));
    if (key >= vk::F1 && key <= vk::F24) return "F" + std::to_string(key - vk::F1 + 1);
    if (key >= vk::Numpad0 && key < vk::Numpad0 + 10)
        return "Num" + std::to_string(key - vk::Numpad0);
    for (const TKeyName& entry : kKeyNames)
        if (entry.Key == key) return entry.Name;
    char buffer[8];
    std::snprintf(buffer, sizeof buffer, "0x%02x", static_cast<unsigned>(key));
    return buffer;
}

uint8_t ModifierFromName(std::string_view name) {
    if (SameAscii(name, "shift")) return mods::Shift;
    if (SameAscii(name, "ctrl") || SameAscii(name, "control")) return mods::Ctrl;
    if (SameAscii(name, "alt")) return mods::Alt;
    if (SameAscii(name, "win") || SameAscii(name, "super")) return mods::Win;
    return 0;
}

THostRecord& THostRecord::Int(std::string name, int64_t value) {
    m_fields.emplace_back(std::move(name), value);
    return *this;
}

THostRecord& THostRecord::Real(std::string name, double value) {
    m_fields.emplace_back(std::move(name), value);
    return *this;
}

THostRecord& THostRecord::Bool(std::string name, bool value) {
    m_fields.emplace_back(std::move(name), value);
    return *this;
}

THostRecord& THostRecord::Str(std::string name, std::string_view utf8) {
    m_fields.emplace_back(std::move(name), std::string(utf8));
    return *this;
}

THostRecord& THostRecord::Str(std::string name, std::u16string_view text) {
    m_fields.emplace_back(std::move(name), ToUtf8(text));
    return *this;
}

THostRecord& THostRecord::List(std::string name, const std::vector<std::u16string>& items) {
    std::vector<std::string> utf8;
    utf8.reserve(items.size());
    for (const std::u16string& item : items) utf8.push_back(ToUtf8(item));
    m_fields.emplace_back(std::move(name), std::move(utf8));
    return *this;
}

std::string JsonQuote(std::string_view utf8) {
    std::string out = "\"";
    AppendUtf8Escaped(out, utf8);
    out += '"';
    return out;
}

std::string THostRecord::Json(int64_t timeMs) const {
    std::string out = "{\"t\":" + std::to_string(timeMs) + ",\"kind\":" + JsonQuote(m_kind);
    for (const auto& [name, value] : m_fields) {
        out += ',';
        out += JsonQuote(name);
        out += ':';
        if (const auto* i = std::get_if<int64_t>(&value)) {
            out += std::to_string(*i);
        } else if (const auto* d = std::get_if<double>(&value)) {
            if (std::isfinite(*d)) {
                char buffer[32];
                std::snprintf(buffer, sizeof buffer, "%.17g", *d);
                out += buffer;
            } else {
                out += "null";  // JSON has no infinities
            }
        } else if (const auto* b = std::get_if<bool>(&value)) {
            out += *b ? "true" : "false";
        } else if (const auto* s = std::get_if<std::string>(&value)) {
            out += JsonQuote(*s);
        } else if (const auto* list = std::get_if<std::vector<std::string>>(&value)) {
            out += '[';
            for (size_t k = 0; k < list->size(); ++k) {
                if (k) out += ',';
                out += JsonQuote((*list)[k]);
            }
            out += ']';
        }
    }
    out += '}';
    return out;
}

std::unique_ptr<TGlContext> THost::CreateGlContext(std::string& error) {
    error = "this host does not draw with OpenGL";
    return nullptr;
}

void THost::DrawableSize(int32_t& width, int32_t& height) const {
    const THostRect client = ClientRect();
    width = client.Width();
    height = client.Height();
}

}  // namespace ql
