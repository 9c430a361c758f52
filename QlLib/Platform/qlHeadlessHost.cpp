#include "QlLib/Platform/qlHeadlessHost.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstring>
#include <fstream>

#include "QlLib/Platform/qlGlContext.h"
#include "QlLib/qpStringUtils.h"

namespace ql {

namespace {

constexpr int64_t kMaxWaitMs = 24LL * 3600 * 1000;
constexpr int64_t kMaxCoordinate = 1000000;
constexpr int64_t kMaxWheelSteps = 1000;
constexpr int64_t kDefaultUntilMs = 10000;
constexpr int64_t kQuitAfterMs = 10000;
constexpr int64_t kQuitRepeatMs = 1000;
constexpr int32_t kMaxFrameSide = 16384;

int64_t RealMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Words of a script line: blanks separate, double quotes group (and are
// dropped). False when a quote is left open.
bool SplitWords(std::string_view line, std::vector<std::string>& words) {
    words.clear();
    std::string current;
    bool inWord = false, quoted = false;
    for (char c : line) {
        if (quoted) {
            if (c == '"')
                quoted = false;
            else
                current += c;
        } else if (c == '"') {
            quoted = true;
            inWord = true;
        } else if (c == ' ' || c == '\t' || c == '\r') {
            if (inWord) words.push_back(std::move(current));
            current.clear();
            inWord = false;
        } else {
            current += c;
            inWord = true;
        }
    }
    if (quoted) return false;
    if (inWord) words.push_back(std::move(current));
    return true;
}

bool ParseNumber(const std::string& word, int64_t low, int64_t high, int64_t& value) {
    const char* begin = word.data();
    const char* end = begin + word.size();
    if (begin != end && *begin == '+') ++begin;
    auto [ptr, ec] = std::from_chars(begin, end, value);
    return ec == std::errc() && ptr == end && begin != end && value >= low && value <= high;
}

const char* IconName(TMessageIcon icon) {
    switch (icon) {
        case TMessageIcon::Information:
            return "information";
        case TMessageIcon::Warning:
            return "warning";
        case TMessageIcon::Error:
            return "error";
        default:
            return "none";
    }
}

const char* ButtonsName(TMessageButtons buttons) {
    switch (buttons) {
        case TMessageButtons::OkCancel:
            return "okcancel";
        case TMessageButtons::YesNo:
            return "yesno";
        default:
            return "ok";
    }
}

const char* ResultName(TMessageResult result) {
    switch (result) {
        case TMessageResult::Cancel:
            return "cancel";
        case TMessageResult::Yes:
            return "yes";
        case TMessageResult::No:
            return "no";
        default:
            return "ok";
    }
}

const char* BorderName(TWindowBorder border) {
    switch (border) {
        case TWindowBorder::Fixed:
            return "fixed";
        case TWindowBorder::Resizable:
            return "resizable";
        default:
            return "none";
    }
}

const char* LaunchName(TLaunchResult result) {
    switch (result) {
        case TLaunchResult::Started:
            return "started";
        case TLaunchResult::Refused:
            return "refused";
        case TLaunchResult::NotFound:
            return "notfound";
        default:
            return "failed";
    }
}

THostEvent KeyEvent(uint16_t key, uint8_t kind, uint8_t modifiers) {
    THostEvent event;
    event.Kind = THostEventKind::Key;
    event.Key = key;
    event.KeyEvent = kind;
    event.Modifiers = modifiers;
    return event;
}

THostEvent MouseEvent(uint8_t kind, uint8_t button, int32_t x, int32_t y, uint8_t modifiers) {
    THostEvent event;
    event.Kind = THostEventKind::Mouse;
    event.MouseEvent = kind;
    event.Button = button;
    event.X = x;
    event.Y = y;
    event.Modifiers = modifiers;
    return event;
}

// Parses one command's words into step; an error text when they are wrong.
std::string ParseCommand(const std::vector<std::string>& words, THeadlessStep& step) {
    const std::string& verb = words[0];
    const size_t count = words.size();
    auto modifiersFrom = [&](size_t first, uint8_t& modifiers) -> std::string {
        modifiers = 0;
        for (size_t i = first; i < count; ++i) {
            const uint8_t bit = ModifierFromName(words[i]);
            if (!bit) return "unknown modifier \"" + words[i] + "\"";
            modifiers |= bit;
        }
        return {};
    };
    if (verb == "wait") {
        if (count != 2 || !ParseNumber(words[1], 0, kMaxWaitMs, step.Ms))
            return "wait needs milliseconds";
        step.Kind = THeadlessStep::TKind::Wait;
        return {};
    }
    if (verb == "until") {
        step.Kind = THeadlessStep::TKind::Until;
        step.Ms = kDefaultUntilMs;
        if (count < 2 || count > 3 ||
            (count == 3 && !ParseNumber(words[2], 1, kMaxWaitMs, step.Ms)))
            return "until needs a record kind and at most a bound in milliseconds";
        step.Name = words[1];
        return {};
    }
    if (verb == "key" || verb == "keydown" || verb == "keyup") {
        if (count < 2) return verb + " needs a key name";
        const uint16_t key = VirtualKeyFromName(words[1]);
        if (!key) return "unknown key \"" + words[1] + "\"";
        uint8_t modifiers;
        if (std::string error = modifiersFrom(2, modifiers); !error.empty()) return error;
        step.Kind = THeadlessStep::TKind::Events;
        if (verb != "keyup") step.Events.push_back(KeyEvent(key, kePressed, modifiers));
        if (verb != "keydown") step.Events.push_back(KeyEvent(key, keReleased, modifiers));
        return {};
    }
    if (verb == "text") {
        if (count != 2 || words[1].empty()) return "text needs one quoted text";
        THostEvent event;
        event.Kind = THostEventKind::Char;
        event.Text = FromUtf8(words[1]);
        step.Kind = THeadlessStep::TKind::Events;
        step.Events.push_back(std::move(event));
        return {};
    }
    if (verb == "mouse") {
        if (count < 2) return "mouse needs an action";
        const std::string& action = words[1];
        step.Kind = THeadlessStep::TKind::Events;
        if (action == "leave") {
            if (count != 2) return "mouse leave takes nothing more";
            THostEvent event;
            event.Kind = THostEventKind::MouseLeave;
            step.Events.push_back(event);
            return {};
        }
        int64_t x, y;
        if (count < 4 || !ParseNumber(words[2], -kMaxCoordinate, kMaxCoordinate, x) ||
            !ParseNumber(words[3], -kMaxCoordinate, kMaxCoordinate, y))
            return "mouse " + action + " needs X and Y";
        size_t next = 4;
        uint8_t button = mbLeft;
        if (action != "move" && next < count) {
            if (words[next] == "left")
                button = mbLeft, ++next;
            else if (words[next] == "right")
                button = mbRight, ++next;
            else if (words[next] == "middle")
                button = mbMiddle, ++next;
        }
        uint8_t modifiers;
        if (std::string error = modifiersFrom(next, modifiers); !error.empty()) return error;
        const int32_t ix = static_cast<int32_t>(x), iy = static_cast<int32_t>(y);
        if (action == "move") {
            step.Events.push_back(MouseEvent(meMove, 0, ix, iy, modifiers));
        } else if (action == "down") {
            step.Events.push_back(MouseEvent(mePressed, button, ix, iy, modifiers));
        } else if (action == "up") {
            step.Events.push_back(MouseEvent(meReleased, button, ix, iy, modifiers));
        } else if (action == "click" || action == "dblclick") {
            step.Events.push_back(MouseEvent(mePressed, button, ix, iy, modifiers));
            step.Events.push_back(MouseEvent(meReleased, button, ix, iy, modifiers));
            if (action == "dblclick") {
                step.Events.push_back(MouseEvent(mePressed, button, ix, iy, modifiers));
                step.Events.push_back(MouseEvent(meDoubleClick, button, ix, iy, modifiers));
                step.Events.push_back(MouseEvent(meReleased, button, ix, iy, modifiers));
            }
        } else {
            return "unknown mouse action \"" + action + "\"";
        }
        return {};
    }
    if (verb == "wheel") {
        int64_t steps;
        if (count < 2 || !ParseNumber(words[1], -kMaxWheelSteps, kMaxWheelSteps, steps) ||
            steps == 0)
            return "wheel needs a step count other than 0";
        uint8_t modifiers;
        if (std::string error = modifiersFrom(2, modifiers); !error.empty()) return error;
        THostEvent event;
        event.Kind = THostEventKind::Wheel;
        event.WheelSteps = static_cast<int32_t>(steps);
        event.Modifiers = modifiers;
        step.Kind = THeadlessStep::TKind::Events;
        step.Events.push_back(event);
        return {};
    }
    if (verb == "focus") {
        if (count != 2 || (words[1] != "in" && words[1] != "out")) return "focus needs in or out";
        THostEvent event;
        event.Kind = words[1] == "in" ? THostEventKind::FocusGained : THostEventKind::FocusLost;
        step.Kind = THeadlessStep::TKind::Events;
        step.Events.push_back(event);
        return {};
    }
    if (verb == "resize") {
        int64_t w, h;
        if (count != 3 || !ParseNumber(words[1], 1, kMaxFrameSide, w) ||
            !ParseNumber(words[2], 1, kMaxFrameSide, h))
            return "resize needs a width and a height";
        THostEvent event;
        event.Kind = THostEventKind::Resized;
        event.Width = static_cast<int32_t>(w);
        event.Height = static_cast<int32_t>(h);
        step.Kind = THeadlessStep::TKind::Events;
        step.Events.push_back(event);
        return {};
    }
    if (verb == "answer") {
        step.Kind = THeadlessStep::TKind::Answer;
        if (count == 2 && words[1] == "ok")
            step.Answer = TMessageResult::Ok;
        else if (count == 2 && words[1] == "cancel")
            step.Answer = TMessageResult::Cancel;
        else if (count == 2 && words[1] == "yes")
            step.Answer = TMessageResult::Yes;
        else if (count == 2 && words[1] == "no")
            step.Answer = TMessageResult::No;
        else
            return "answer needs ok, cancel, yes or no";
        return {};
    }
    if (verb == "childexit") {
        int64_t code;
        if (count != 2 || !ParseNumber(words[1], -1, 255, code))
            return "childexit needs a code from -1 to 255";
        step.Kind = THeadlessStep::TKind::ChildExit;
        step.ExitCode = static_cast<int32_t>(code);
        return {};
    }
    if (verb == "capture") {
        if (count != 2 || words[1].empty()) return "capture needs a file name";
        step.Kind = THeadlessStep::TKind::Capture;
        step.Name = words[1];
        return {};
    }
    if (verb == "quit" || verb == "close") {
        if (count != 1) return verb + " takes nothing more";
        THostEvent event;
        event.Kind = THostEventKind::Close;
        step.Kind = THeadlessStep::TKind::Events;
        step.Events.push_back(event);
        return {};
    }
    return "unknown command \"" + verb + "\"";
}

}  // namespace

bool ParseHeadlessScript(std::string_view script, std::vector<THeadlessStep>& steps,
                         std::string& error) {
    steps.clear();
    error.clear();
    int32_t lineNumber = 0;
    std::vector<std::string> words;
    size_t start = 0;
    while (start <= script.size()) {
        size_t end = script.find('\n', start);
        if (end == std::string_view::npos) end = script.size();
        const std::string_view line = script.substr(start, end - start);
        start = end + 1;
        ++lineNumber;
        size_t first = line.find_first_not_of(" \t\r");
        if (first == std::string_view::npos || line[first] == '#') continue;
        if (!SplitWords(line, words)) {
            error = "line " + std::to_string(lineNumber) + ": a quote is not closed";
            return false;
        }
        THeadlessStep step;
        step.Line = lineNumber;
        if (std::string problem = ParseCommand(words, step); !problem.empty()) {
            error = "line " + std::to_string(lineNumber) + ": " + problem;
            steps.clear();
            return false;
        }
        steps.push_back(std::move(step));
    }
    return true;
}

// Records what the program would start instead of starting it.
class THeadlessHost::TRecordingLauncher : public TProcessLauncher {
public:
    explicit TRecordingLauncher(THeadlessHost& host) : m_host(host) {}

    TLaunchResult OpenUrl(const std::u16string& url) override {
        const TLaunchResult result =
            IsOpenableUrl(url) ? TLaunchResult::Started : TLaunchResult::Refused;
        m_host.Record(THostRecord("open").Str("url", url).Str("result", LaunchName(result)));
        return result;
    }

    TLaunchResult OpenDocument(const std::u16string& path) override {
        const TLaunchResult result =
            IsOpenableDocument(path) ? TLaunchResult::Started : TLaunchResult::Refused;
        m_host.Record(
            THostRecord("open-document").Str("path", path).Str("result", LaunchName(result)));
        return result;
    }

    TLaunchResult Spawn(const std::vector<std::u16string>& argv) override {
        const TLaunchResult result =
            argv.empty() || argv[0].empty() ? TLaunchResult::Refused : TLaunchResult::Started;
        m_host.Record(THostRecord("run")
                          .List("argv", argv)
                          .Bool("wait", false)
                          .Str("result", LaunchName(result)));
        return result;
    }

    int32_t SpawnAndWait(const std::vector<std::u16string>& argv,
                         const std::function<bool()>&) override {
        // A childexit line before any wait of the script counts for this child.
        m_host.Advance();
        int32_t code = -1;
        if (!argv.empty() && !argv[0].empty()) {
            code = 0;
            if (!m_host.m_childExits.empty()) {
                code = m_host.m_childExits.front();
                m_host.m_childExits.pop_front();
            }
        }
        m_host.Record(
            THostRecord("run").List("argv", argv).Bool("wait", true).Int("exitcode", code));
        return code;
    }

private:
    THeadlessHost& m_host;
};

THeadlessHost::THeadlessHost(std::ostream* out)
    : m_out(out), m_launcher(new TRecordingLauncher(*this)) {
    TMonitorInfo monitor;
    monitor.Bounds = {0, 0, 1920, 1080};
    monitor.WorkArea = {0, 0, 1920, 1040};
    monitor.Primary = true;
    m_monitors.push_back(monitor);
    m_window.Visible = false;
}

THeadlessHost::~THeadlessHost() = default;

bool THeadlessHost::LoadScript(std::string_view script, std::string& error) {
    m_steps.clear();
    m_nextStep = 0;
    m_waitLeft = -1;
    m_untilStarted = -1;
    m_scriptDone = false;
    if (!ParseHeadlessScript(script, m_steps, error)) {
        Record(THostRecord("script").Str("error", error));
        return false;
    }
    return true;
}

bool THeadlessHost::LoadScriptFile(const std::string& fileName, std::string& error) {
    constexpr size_t kMaxScriptBytes = 1 << 20;
    std::ifstream in(fileName, std::ios::binary);
    std::string text;
    if (in) {
        text.resize(kMaxScriptBytes + 1);
        in.read(text.data(), static_cast<std::streamsize>(text.size()));
        text.resize(static_cast<size_t>(in.gcount()));
    }
    if (!in.is_open() || in.bad())
        error = "cannot read the script " + fileName;
    else if (text.size() > kMaxScriptBytes)
        error = "the script " + fileName + " is longer than 1 MiB";
    else
        return LoadScript(text, error);
    m_steps.clear();
    m_nextStep = 0;
    Record(THostRecord("script").Str("error", error));
    return false;
}

std::vector<std::string> THeadlessHost::RecordedLines() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_lines;
}

std::vector<std::string> THeadlessHost::RecordedLines(std::string_view kind) const {
    std::lock_guard<std::mutex> guard(m_lock);
    std::vector<std::string> lines;
    for (size_t i = 0; i < m_lines.size(); ++i)
        if (m_recordedKinds[i] == kind) lines.push_back(m_lines[i]);
    return lines;
}

bool THeadlessHost::ScriptFinished() const {
    return m_scriptDone;
}

void THeadlessHost::Record(const THostRecord& record) {
    std::lock_guard<std::mutex> guard(m_lock);
    std::string line = record.Json(m_clock.load());
    if (m_out) {
        *m_out << line << '\n';
        m_out->flush();
    }
    m_lines.push_back(std::move(line));
    m_recordedKinds.push_back(record.Kind());
    m_wake.notify_all();
}

bool THeadlessHost::RecordedKind(const std::string& kind) const {
    std::lock_guard<std::mutex> guard(m_lock);
    for (size_t i = m_markLine; i < m_recordedKinds.size(); ++i)
        if (m_recordedKinds[i] == kind) return true;
    return false;
}

void THeadlessHost::MarkRecord() {
    std::lock_guard<std::mutex> guard(m_lock);
    m_markLine = m_lines.size();
}

void THeadlessHost::FinishStep() {
    ++m_nextStep;
    m_waitLeft = -1;
    m_untilStarted = -1;
    MarkRecord();
}

void THeadlessHost::Advance() {
    while (m_pending.empty() && m_nextStep < m_steps.size()) {
        THeadlessStep& step = m_steps[m_nextStep];
        switch (step.Kind) {
            case THeadlessStep::TKind::Wait:
                if (m_waitLeft < 0) m_waitLeft = step.Ms;
                if (m_waitLeft > 0) return;
                FinishStep();
                break;
            case THeadlessStep::TKind::Until:
                if (m_untilStarted < 0) m_untilStarted = RealMs();
                if (RecordedKind(step.Name)) {
                    FinishStep();
                    break;
                }
                if (RealMs() - m_untilStarted <= step.Ms) return;
                Record(THostRecord("script")
                           .Int("line", step.Line)
                           .Str("error", "no \"" + step.Name + "\" line within " +
                                             std::to_string(step.Ms) + " ms"));
                FinishStep();
                break;
            case THeadlessStep::TKind::Events:
                for (const THostEvent& event : step.Events) m_pending.push_back(event);
                FinishStep();
                break;
            case THeadlessStep::TKind::Answer:
                m_answers.push_back(step.Answer);
                FinishStep();
                break;
            case THeadlessStep::TKind::ChildExit:
                m_childExits.push_back(step.ExitCode);
                FinishStep();
                break;
            case THeadlessStep::TKind::Capture: {
                bool ok = false;
                if (m_captureSink && !m_lastFrame.Pixels.empty())
                    ok = m_captureSink(step.Name, m_lastFrame.View());
                Record(THostRecord("capture")
                           .Str("file", step.Name)
                           .Bool("ok", ok)
                           .Int("width", m_lastFrame.Width)
                           .Int("height", m_lastFrame.Height));
                FinishStep();
                break;
            }
        }
    }
    if (m_pending.empty() && m_nextStep >= m_steps.size()) FinishScript();
}

void THeadlessHost::FinishScript() {
    const int64_t now = m_clock.load();
    if (!m_scriptDone) {
        m_scriptDone = true;
        m_doneAt = now;
    }
    if (!m_closeSent) {
        m_closeSent = true;
        THostEvent event;
        event.Kind = THostEventKind::Close;
        m_pending.push_back(event);
        return;
    }
    // A program that does not close when asked is told to end, so that a
    // test can never hang on it.
    if (now - m_doneAt >= kQuitAfterMs &&
        (m_lastQuitAt == 0 || now - m_lastQuitAt >= kQuitRepeatMs)) {
        m_lastQuitAt = now;
        THostEvent event;
        event.Kind = THostEventKind::Quit;
        m_pending.push_back(event);
    }
}

void THeadlessHost::Deliver(THostEvent& event) {
    switch (event.Kind) {
        case THostEventKind::Mouse:
            if (event.MouseEvent == mePressed || event.MouseEvent == meReleased) {
                const uint8_t bit = event.Button == mbRight    ? mods::RightHeld
                                    : event.Button == mbMiddle ? mods::MiddleHeld
                                                               : mods::LeftHeld;
                if (event.MouseEvent == mePressed)
                    m_buttonsHeld |= bit;
                else
                    m_buttonsHeld &= static_cast<uint8_t>(~bit);
            }
            event.Modifiers |= m_buttonsHeld;
            m_mouseX = event.X;
            m_mouseY = event.Y;
            m_mouseInside = true;
            break;
        case THostEventKind::Wheel:
            event.X = m_mouseX;
            event.Y = m_mouseY;
            event.Modifiers |= m_buttonsHeld;
            break;
        case THostEventKind::MouseLeave:
            m_mouseInside = false;
            break;
        case THostEventKind::Resized:
            m_window.Client.Right = m_window.Client.Left + event.Width;
            m_window.Client.Bottom = m_window.Client.Top + event.Height;
            break;
        default:
            break;
    }
}

bool THeadlessHost::TakeEvent(THostEvent& event) {
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (!m_userEvents.empty()) {
            event = std::move(m_userEvents.front());
            m_userEvents.pop_front();
            return true;
        }
    }
    Advance();
    if (m_pending.empty()) return false;
    event = std::move(m_pending.front());
    m_pending.pop_front();
    Deliver(event);
    return true;
}

bool THeadlessHost::PollEvent(THostEvent& event) {
    return TakeEvent(event);
}

bool THeadlessHost::WaitEvent(THostEvent& event, int32_t timeoutMs) {
    int64_t left = std::max<int32_t>(timeoutMs, 0);
    for (;;) {
        if (TakeEvent(event)) return true;
        if (left <= 0) return false;
        left -= PassTime(left);
    }
}

void THeadlessHost::Delay(int32_t ms) {
    int64_t left = std::max<int32_t>(ms, 0);
    while (left > 0) {
        Advance();
        left -= PassTime(left);
    }
}

int64_t THeadlessHost::PassTime(int64_t most) {
    // Called with no event due: either a wait or an until step runs, or the
    // script is over; a posted user event ends the pause early.
    const bool inUntil = m_nextStep < m_steps.size() &&
                         m_steps[m_nextStep].Kind == THeadlessStep::TKind::Until &&
                         m_pending.empty();
    int64_t step = most;
    if (!inUntil && m_waitLeft > 0) step = std::min(step, m_waitLeft);
    std::unique_lock<std::mutex> guard(m_lock);
    if (inUntil || m_realTimeWaits) {
        const int64_t started = RealMs();
        const std::string* awaited = inUntil ? &m_steps[m_nextStep].Name : nullptr;
        m_wake.wait_for(guard, std::chrono::milliseconds(step), [&] {
            if (!m_userEvents.empty()) return true;
            if (!awaited) return false;
            for (size_t i = m_markLine; i < m_recordedKinds.size(); ++i)
                if (m_recordedKinds[i] == *awaited) return true;
            return false;
        });
        // An until step follows the real clock: the program's other threads
        // are what it waits for.
        if (inUntil) step = std::max<int64_t>(1, std::min(step, RealMs() - started));
    }
    guard.unlock();
    m_clock.fetch_add(step);
    if (!inUntil && m_waitLeft > 0) m_waitLeft -= step;
    return step;
}

void THeadlessHost::PostUserEvent(int32_t code, int64_t param) {
    THostEvent event;
    event.Kind = THostEventKind::User;
    event.Code = code;
    event.Param = param;
    std::lock_guard<std::mutex> guard(m_lock);
    m_userEvents.push_back(std::move(event));
    m_wake.notify_all();
}

bool THeadlessHost::OpenWindow(const TWindowParams& params, std::string& error) {
    if (m_hasWindow) {
        error = "the window is already open";
        return false;
    }
    m_hasWindow = true;
    m_window = params;
    if (params.FullScreen) m_window.Client = MonitorBounds(params.FullScreenMonitor);
    RecordWindow("open");
    return true;
}

THostRect THeadlessHost::MonitorBounds(int32_t monitor) const {
    if (monitor >= 0 && static_cast<size_t>(monitor) < m_monitors.size())
        return m_monitors[monitor].Bounds;
    for (const TMonitorInfo& info : m_monitors)
        if (info.Primary) return info.Bounds;
    return m_monitors.empty() ? THostRect{0, 0, 640, 480} : m_monitors[0].Bounds;
}

void THeadlessHost::RecordWindow(const char* change) {
    const THostRect& c = m_window.Client;
    Record(THostRecord("window")
               .Str("change", change)
               .Str("title", m_window.Title)
               .Int("left", c.Left)
               .Int("top", c.Top)
               .Int("width", c.Width())
               .Int("height", c.Height())
               .Str("border", BorderName(m_window.Border))
               .Bool("fullscreen", m_window.FullScreen)
               .Bool("visible", m_window.Visible));
}

void THeadlessHost::SetTitle(const std::u16string& title) {
    m_window.Title = title;
    if (m_hasWindow) RecordWindow("title");
}

void THeadlessHost::SetBorder(TWindowBorder border) {
    m_window.Border = border;
    if (m_hasWindow) RecordWindow("border");
}

void THeadlessHost::SetClientRect(const THostRect& client) {
    m_window.Client = client;
    m_window.FullScreen = false;
    if (m_hasWindow) RecordWindow("rect");
}

void THeadlessHost::SetFullScreen(int32_t monitor) {
    m_window.FullScreen = true;
    m_window.FullScreenMonitor = monitor;
    m_window.Client = MonitorBounds(monitor);
    if (m_hasWindow) RecordWindow("fullscreen");
}

void THeadlessHost::SetVisible(bool visible) {
    if (m_window.Visible == visible) return;
    m_window.Visible = visible;
    if (m_hasWindow) RecordWindow(visible ? "show" : "hide");
}

THostRect THeadlessHost::FrameExtents() const {
    if (m_window.FullScreen || m_window.Border == TWindowBorder::None) return {};
    return {4, 30, 4, 4};
}

void THeadlessHost::SetCursor(TCursorShape shape) {
    if (shape == m_cursor) return;
    m_cursor = shape;
    Record(THostRecord("cursor").Str("shape", shape == TCursorShape::Hand     ? "hand"
                                              : shape == TCursorShape::Hidden ? "hidden"
                                                                              : "arrow"));
}

bool THeadlessHost::CursorPosition(int32_t& x, int32_t& y) const {
    if (!m_mouseInside) return false;
    x = m_mouseX;
    y = m_mouseY;
    return true;
}

TMessageResult THeadlessHost::MessageBox(const std::u16string& caption, const std::u16string& text,
                                         TMessageIcon icon, TMessageButtons buttons) {
    TMessageResult answer =
        buttons == TMessageButtons::YesNo ? TMessageResult::Yes : TMessageResult::Ok;
    Advance();  // an answer line that is due counts for this box
    if (!m_answers.empty()) {
        const TMessageResult wanted = m_answers.front();
        m_answers.pop_front();
        const bool fits = buttons == TMessageButtons::YesNo
                              ? wanted == TMessageResult::Yes || wanted == TMessageResult::No
                          : buttons == TMessageButtons::OkCancel
                              ? wanted == TMessageResult::Ok || wanted == TMessageResult::Cancel
                              : wanted == TMessageResult::Ok;
        if (fits) answer = wanted;
    }
    Record(THostRecord("message")
               .Str("caption", caption)
               .Str("text", text)
               .Str("icon", IconName(icon))
               .Str("buttons", ButtonsName(buttons))
               .Str("answer", ResultName(answer)));
    return answer;
}

bool THeadlessHost::SetClipboardText(const std::u16string& text) {
    m_clipboard = text;
    Record(THostRecord("clipboard").Str("text", text));
    return true;
}

std::unique_ptr<TGlContext> THeadlessHost::CreateGlContext(std::string& error) {
    return TGlContext::CreateHeadless(error);
}

void THeadlessHost::Present(const TFrameView& frame) {
    if (!frame.Pixels || frame.Width <= 0 || frame.Height <= 0 || frame.Width > kMaxFrameSide ||
        frame.Height > kMaxFrameSide || frame.Stride < frame.Width * 4)
        return;
    const size_t row = static_cast<size_t>(frame.Width) * 4;
    m_lastFrame.Width = frame.Width;
    m_lastFrame.Height = frame.Height;
    m_lastFrame.Pixels.resize(row * static_cast<size_t>(frame.Height));
    for (int32_t y = 0; y < frame.Height; ++y)
        std::memcpy(m_lastFrame.Pixels.data() + row * y,
                    frame.Pixels + static_cast<size_t>(frame.Stride) * y, row);
    ++m_framesPresented;
}

bool THeadlessHost::ReadWindowPixels(TFrameCopy& frame) {
    if (m_lastFrame.Pixels.empty()) return false;
    frame = m_lastFrame;
    return true;
}

int64_t THeadlessHost::TickMs() const {
    return m_clock.load();
}

}  // namespace ql
