#include "OrbLib2/OrbClasses/qlOrbSource2.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>
#include <mutex>
#include <random>
#include <tuple>
#include <unordered_map>

#include "QlLib/qlIniStorage.h"
#include "QlLib/qpStringUtils.h"

namespace orb {

namespace {

// ---- the random generator and the random-order table ----
// One lock guards both: the table is shared between the loader, the producer
// and the engine, and they all draw from the one engine.
std::mutex g_randomLock;
std::mt19937 g_engine(5489u);                                          // under g_randomLock
bool g_fixedSeed = false;                                              // under g_randomLock
std::unordered_map<std::u16string, TSlideRandomList>* g_randomOrders;  // under g_randomLock

uint32_t ClockSeed() {
    const auto ticks = std::chrono::steady_clock::now().time_since_epoch().count();
    return uint32_t(ticks) ^ uint32_t(uint64_t(ticks) >> 32);
}

void ReseedLocked() {
    if (!g_fixedSeed) g_engine.seed(ClockSeed());
}

int32_t RandomLocked(int32_t range) {
    if (range <= 0) return 0;
    // Scaling the 32-bit draw keeps the sequence the same on every standard
    // library, unlike the distributions.
    return int32_t((uint64_t(g_engine()) * uint64_t(range)) >> 32);
}

// ---- checked reads ----

// A count that sizes the show; refused when it is negative or absurd.
int32_t CheckedCount(int32_t value, int32_t maximum, const char* what) {
    if (value < 0 || value > maximum)
        throw EOrbSourceError(std::string("Incorrect ") + what + ": " + std::to_string(value));
    return value;
}

// Durations of transitions are never negative.
double ClampDuration(double value) {
    return value > 0 ? value : 0;
}

float ReadFloat(const ql::TIniIdentList& section, std::u16string_view key, float defaultValue) {
    const double value = section.ReadReal(key, defaultValue);
    // A float cannot hold every double the document may write.
    if (!(std::fabs(value) <= double(std::numeric_limits<float>::max()))) return defaultValue;
    return float(value);
}

bool ReadFlag(const ql::TIniIdentList& section, std::u16string_view key, bool defaultValue) {
    return section.ReadString(key, defaultValue ? u"1" : u"0") == u"1";
}

std::u16string Suffixed(std::u16string_view key, int64_t number) {
    return std::u16string(key) + ql::IntToStr(number);
}

// The file name without folder and without extension.
std::u16string BareFileName(const std::u16string& name) {
    const size_t slash = name.find_last_of(u"/\\");
    std::u16string bare = slash == std::u16string::npos ? name : name.substr(slash + 1);
    const size_t dot = bare.find_last_of(u'.');
    if (dot != std::u16string::npos) bare.resize(dot);
    return bare;
}

int32_t ClassInRange(int32_t effectClass) {
    return effectClass >= kRandomEffectClass && effectClass <= kCustomEffectClass ? effectClass
                                                                                  : kNoEffectClass;
}

}  // namespace

int32_t EffectTypeOfChar(char16_t c) {
    if (c >= u'1' && c <= u'8') return c - u'1' + 1;
    if (c >= u'A' && c <= u'H') return c - u'A' + 9;
    if (c >= u'a' && c <= u'h') return c - u'a' + 9;
    return 1;
}

TEffGroup::TEffGroup(std::u16string text) : m_text(std::move(text)) {
    for (char16_t c : m_text) m_mask |= 1u << (EffectTypeOfChar(c) - 1);
}

// ---- random generator ----

void SetFixedRandomSeed(uint32_t seed) {
    std::lock_guard<std::mutex> guard(g_randomLock);
    g_fixedSeed = true;
    g_engine.seed(seed);
}

TFixedRandomSeed::TFixedRandomSeed(uint32_t seed) {
    ClearSlideRandomOrders();
    std::lock_guard<std::mutex> guard(g_randomLock);
    m_wasFixed = std::exchange(g_fixedSeed, true);
    g_engine.seed(seed);
}

TFixedRandomSeed::~TFixedRandomSeed() {
    ClearSlideRandomOrders();
    std::lock_guard<std::mutex> guard(g_randomLock);
    g_fixedSeed = m_wasFixed;
}

void TFixedRandomSeed::Restart(uint32_t seed) {
    SetFixedRandomSeed(seed);
}

void ReseedRandomFromClock() {
    std::lock_guard<std::mutex> guard(g_randomLock);
    ReseedLocked();
}

int32_t ShowRandom(int32_t range) {
    std::lock_guard<std::mutex> guard(g_randomLock);
    return RandomLocked(range);
}

// ---- random slide order ----

TSlideRandomList::TSlideRandomList(int32_t count, bool shuffled) {
    ExtendTo(count);
    if (!shuffled || m_entries.empty()) return;
    {
        std::lock_guard<std::mutex> guard(g_randomLock);
        ReseedLocked();
        for (TEntry& entry : m_entries) entry.SortKey = RandomLocked(1000000);
    }
    // Ascending by key; a stable sort keeps equal keys in slide order.
    std::stable_sort(m_entries.begin(), m_entries.end(),
                     [](const TEntry& a, const TEntry& b) { return a.SortKey < b.SortKey; });
}

void TSlideRandomList::ExtendTo(int32_t count) {
    for (int32_t i = Count(); i < count; ++i) m_entries.push_back(TEntry{i, 0});
}

void ClearSlideRandomOrders() {
    std::lock_guard<std::mutex> guard(g_randomLock);
    delete g_randomOrders;
    g_randomOrders = nullptr;
}

int32_t SlideSectionNumber(const ql::TIniStorage& document, int64_t index) {
    if (index < 0 || index >= kMaxSlideCount) return -1;
    const std::u16string project = document.ReadString(u"main", u"ProjectFilePath", u"");
    if (project.empty()) return int32_t(index);
    std::unique_lock<std::mutex> guard(g_randomLock);
    if (!g_randomOrders) g_randomOrders = new std::unordered_map<std::u16string, TSlideRandomList>;
    auto found = g_randomOrders->find(project);
    if (found == g_randomOrders->end()) {
        // The list draws its keys under the same lock.
        guard.unlock();
        // A refused slide count leaves the list empty; it grows on request.
        const TOrbShowOptions options = ReadShowOptions(document);
        TSlideRandomList made(options.SlideCount, options.RandomOrder);
        guard.lock();
        if (!g_randomOrders)
            g_randomOrders = new std::unordered_map<std::u16string, TSlideRandomList>;
        // Another thread may have made it meanwhile; the first one stays.
        found = g_randomOrders->emplace(project, std::move(made)).first;
    }
    TSlideRandomList& list = found->second;
    if (index >= list.Count()) list.ExtendTo(int32_t(index) + 1);
    return list[int32_t(index)].Section;
}

ql::TIniSection* SlideSection(const ql::TIniStorage& document, int64_t index) {
    const int32_t number = SlideSectionNumber(document, index);
    if (number < 0) return nullptr;
    return document.FindSection(Suffixed(u"Slide", int64_t(number) + 1));
}

// ---- TOrbSource ----

TOrbSource::TOrbSource(ql::TRef<ql::TRefObj> fileSource, std::unique_ptr<ql::TIniStorage> document,
                       const std::u16string& programFileName)
    : m_fileSource(std::move(fileSource)), m_ownedDocument(std::move(document)) {
    QL_ASSERT(m_ownedDocument != nullptr, "TOrbSource needs a document");
    m_document = m_ownedDocument.get();
    Load(programFileName);
}

TOrbSource::TOrbSource(ql::TRef<ql::TRefObj> fileSource, ql::TIniStorage& document,
                       const std::u16string& programFileName)
    : m_fileSource(std::move(fileSource)), m_document(&document) {
    Load(programFileName);
}

TOrbSource::~TOrbSource() = default;

void TOrbSource::Load(const std::u16string& programFileName) {
    QL_ASSERT(m_fileSource, "TOrbSource needs a file source");
    m_main = m_document->FindSection(kMainSection);
    if (!m_main) throw EOrbSourceError("The show document has no [Main] section");
    ApplyScreenSaverMode(programFileName);

    m_options = ReadShowOptions(*m_main);
    if (m_options.RefusedSlideCount)
        throw EOrbSourceError("Incorrect slide count: " +
                              std::to_string(*m_options.RefusedSlideCount));
    if (m_options.SlideCount == 0) throw EOrbSourceError("The show has no slides");

    ReadEffectOptions();
    BuildSlideList();
}

void TOrbSource::ApplyScreenSaverMode(const std::u16string& programFileName) {
    const size_t dot = programFileName.find_last_of(u'.');
    const size_t slash = programFileName.find_last_of(u"/\\");
    const bool hasExtension =
        dot != std::u16string::npos && (slash == std::u16string::npos || dot > slash);
    m_screenSaverMode =
        hasExtension &&
        ql::SameTextIgnoringCase(std::u16string_view(programFileName).substr(dot), u".scr");
    // Written into the document so that every later reader sees the forced values.
    if (m_screenSaverMode) {
        m_main->WriteString(u"opt_ssaver", u"1");
        m_main->WriteString(u"opt_fcp", u"0");
        m_main->WriteString(u"opt_hidecursor", u"1");
        m_main->WriteString(u"opt_scr_full", u"1");
        m_main->WriteString(u"opt_repeat", u"repeat");
    } else {
        m_main->WriteString(u"opt_ssaver", u"0");
    }
}

void TOrbSource::ReadEffectOptions() {
    const ql::TIniSection& main = *m_main;
    m_effectsEnabled = main.ReadBool(u"opt_fx_enable", false);
    if (m_effectsEnabled) {
        m_defaultEffectTime = ClampDuration(main.ReadInteger(u"opt_fx_time", 0));
        if (m_defaultEffectTime == 0) m_effectsEnabled = false;
    }
    m_params.Smoothline = float(main.ReadInteger(u"opt_fx_smoothline", 0) / 1000.0);
    if (m_effectsEnabled) {
        m_params.BroomOffset = float(main.ReadInteger(u"opt_fx_broomoffset", 0) / 100.0);
        m_params.RollDiameter = float(main.ReadInteger(u"opt_fx_rolldiameter", 0) / 1000.0);
        const std::u16string variants = main.ReadString(u"opt_fx_rollvariants", u"1");
        m_params.RollVariants = variants == u"1";
        m_randomRollVariant = variants == u"3";
        m_params.RollUseBackColor = ReadFlag(main, u"opt_fx_rollusebackcolor", false);
        if (m_params.RollUseBackColor)
            m_params.RollBackColor =
                ColorFromWindowsValue(main.ReadInteger(u"opt_fx_rollbackcolor", 0));
        m_params.Roll3D = ReadFlag(main, u"opt_fx_roll3d", false);
        m_params.RollCurving = ReadFloat(main, u"opt_fx_rollcurving", 0.125f);
        m_params.FlipCenter = ReadFlag(main, u"opt_fx_flipcenter", false);
        m_params.FlipCurving = ReadFloat(main, u"opt_fx_flipcurving", 0.5f);
        m_params.FlipSmooth = ReadFlag(main, u"opt_fx_flipsmooth", true);
        m_params.SwapDepth = ReadFloat(main, u"opt_fx_swapdepth", 4);
        m_params.SwapWidth = ReadFloat(main, u"opt_fx_swapwidth", 1);
        m_params.SwapMaxAngle = ReadFloat(main, u"opt_fx_swapmaxangle", 60);
        m_params.CenterX = main.ReadInteger(u"opt_fx_center_x", 50);
        m_params.CenterY = main.ReadInteger(u"opt_fx_center_y", 50);
        m_params.MosaicDX = main.ReadInteger(u"opt_fx_mosaic_dx", 1);
        m_params.MosaicDY = main.ReadInteger(u"opt_fx_mosaic_dy", 1);
        m_params.MosaicSC = main.ReadInteger(u"opt_fx_mosaic_sc", 0);
    }

    m_groups.reserve(kEffectGroupCount);
    for (int32_t k = 0; k < kEffectGroupCount; ++k) {
        m_groups.emplace_back(main.ReadString(Suffixed(u"opt_fx_eff", k + 1), u""));
        if (m_groups.back().Mask() != 0) m_activeGroups.push_back(k);
    }

    // The custom group's text doubles as the list of custom effects it uses.
    const int32_t customCount = CheckedCount(main.ReadInteger(u"opt_fx_custom_count", 0),
                                             kMaxCustomEffectCount, "custom effect count");
    std::vector<bool> listed(size_t(customCount), false);
    const std::u16string& list = m_groups[kCustomEffectClass].Text();
    size_t start = 0;
    while (start <= list.size()) {
        size_t end = list.find(u',', start);
        if (end == std::u16string::npos) end = list.size();
        std::u16string item;
        for (size_t i = start; i < end; ++i)
            if (list[i] != u' ' && list[i] != u'\t') item.push_back(list[i]);
        const std::optional<int32_t> number = ql::TryStrToInt(item);
        if (number && *number >= 0 && *number < customCount) listed[size_t(*number)] = true;
        start = end + 1;
    }
    for (int32_t k = 0; k < customCount; ++k) {
        if (!listed[size_t(k)]) continue;
        if (!m_customText.empty()) m_customText += u',';
        m_customText += main.ReadString(Suffixed(u"opt_fx_custom", k), u"");
    }

    if (m_activeGroups.empty()) {
        m_effectsEnabled = false;
        m_defaultEffectTime = 0;
    } else {
        ShuffleActiveGroups();
    }
}

void TOrbSource::ShuffleActiveGroups() {
    const int32_t n = int32_t(m_activeGroups.size());
    std::lock_guard<std::mutex> guard(g_randomLock);
    ReseedLocked();
    for (int32_t i = 0; i + 1 < n; ++i) {
        // j counts from the start of the list, not from i.
        const int32_t j = RandomLocked(n - i);
        if (j != i) std::swap(m_activeGroups[size_t(i)], m_activeGroups[size_t(j)]);
    }
}

std::pair<int32_t, int32_t> TOrbSource::RandomEffectChoice() {
    if (!m_effectsEnabled || m_activeGroups.empty()) return {kNoEffectClass, 0};
    const uint32_t position = m_choiceCounter % uint32_t(m_activeGroups.size());
    ++m_choiceCounter;
    // Each pass over the groups visits them in a new order.
    if (position == 0) ShuffleActiveGroups();
    const int32_t effectClass = m_activeGroups[position];
    const TEffGroup& group = m_groups[size_t(effectClass)];
    const int32_t n = group.CharCount();
    int32_t b = ShowRandom(n);
    // Consecutive choices alternate between odd and even characters.
    const bool even = b % 2 == 0;
    if (even != m_parity) {
        ++b;
        if (b == n) b = 0;
    }
    m_parity = !m_parity;
    return {effectClass, EffectTypeOfChar(group.Text()[size_t(b)])};
}

void TOrbSource::ReadSlideParams(const ql::TIniIdentList& slide, TEffectParams& p) const {
    p.BroomOffset = float(
        slide.ReadInteger(u"EffectBroomOffset", int32_t(std::lround(double(p.BroomOffset) * 100))) /
        100.0);
    p.RollDiameter = float(slide.ReadInteger(u"EffectRollDiameter", 0) / 1000.0);
    p.RollVariants = ReadFlag(slide, u"EffectRollVariants", p.RollVariants);
    p.RollUseBackColor = ReadFlag(slide, u"EffectRollUseBackColor", p.RollUseBackColor);
    if (p.RollUseBackColor && slide.FindIdent(u"EffectRollBackColor"))
        p.RollBackColor = ColorFromWindowsValue(slide.ReadInteger(u"EffectRollBackColor", 0));
    p.Roll3D = ReadFlag(slide, u"EffectRoll3D", p.Roll3D);
    p.RollCurving = ReadFloat(slide, u"EffectRollCurving", p.RollCurving);
    p.FlipCenter = ReadFlag(slide, u"EffectFlipCenter", p.FlipCenter);
    p.FlipCurving = ReadFloat(slide, u"EffectFlipCurving", p.FlipCurving);
    p.FlipSmooth = ReadFlag(slide, u"EffectFlipSmooth", p.FlipSmooth);
    p.SwapDepth = ReadFloat(slide, u"EffectSwapDepth", p.SwapDepth);
    p.SwapWidth = ReadFloat(slide, u"EffectSwapWidth", p.SwapWidth);
    p.SwapMaxAngle = ReadFloat(slide, u"EffectSwapMaxAngle", p.SwapMaxAngle);
    p.CenterX = slide.ReadInteger(u"EffectCenterX", p.CenterX);
    p.CenterY = slide.ReadInteger(u"EffectCenterY", p.CenterY);
    p.MosaicDX = slide.ReadInteger(u"EffectMosaicDX", p.MosaicDX);
    p.MosaicDY = slide.ReadInteger(u"EffectMosaicDY", p.MosaicDY);
    p.MosaicSC = slide.ReadInteger(u"EffectMosaicSC", p.MosaicSC);
}

TSlideEffect TOrbSource::SlideEffect(int64_t index) {
    TSlideEffect result;
    result.EffectTime = m_defaultEffectTime;
    result.Params = m_params;
    if (index < 0) {
        result.EffectTime = 0;
        return result;
    }
    index %= m_options.SlideCount;
    if (m_randomRollVariant) result.Params.RollVariants = (ShowRandom(1000) > 500) != m_parity;

    const ql::TIniSection* slide = SlideSection(*m_document, index);
    const bool personal =
        slide && slide->ReadBool(u"UsePersonal", false) && slide->ReadBool(u"Pers_Effect", false);
    bool explicitClass = false;
    if (personal) {
        const int32_t effectClass = ClassInRange(slide->ReadInteger(u"Effect_Class", 0));
        const double slideTime = ClampDuration(slide->ReadInteger(u"EffectTime", 0));
        if (effectClass == kRandomEffectClass) {
            std::tie(result.EffectClass, result.EffectType) = RandomEffectChoice();
            result.EffectTime = slideTime;
        } else if (effectClass == kCustomEffectClass) {
            result.EffectClass = kCustomEffectClass;
            result.EffectType = 0;
            result.Params.CustomText =
                m_main->ReadString(u"opt_fx_custom" + slide->ReadString(u"Effect_Type", u""), u"");
            result.EffectTime = slideTime;
            explicitClass = true;
        } else if (effectClass != kNoEffectClass) {
            const std::u16string type = slide->ReadString(u"Effect_Type", u"");
            result.EffectClass = effectClass;
            result.EffectType = type.empty() ? 1 : EffectTypeOfChar(type[0]);
            result.EffectTime = slideTime;
            explicitClass = true;
        }
    } else {
        std::tie(result.EffectClass, result.EffectType) = RandomEffectChoice();
    }
    // A drawn custom class plays one of the custom effects the show lists.
    if (!explicitClass && result.EffectClass == kCustomEffectClass)
        result.Params.CustomText = m_customText;
    if (result.EffectClass == kNoEffectClass) {
        result.EffectType = 0;
        result.EffectTime = 0;
        return result;
    }
    if (explicitClass) {
        if (slide->ReadBool(u"EffectUseSmoothline", false))
            result.Params.Smoothline = float(slide->ReadInteger(u"EffectSmoothline", 0) / 1000.0);
        ReadSlideParams(*slide, result.Params);
    }
    const int32_t high = ShowRandom(4096);
    result.Params.Seed = high * 4096 + ShowRandom(4096);
    return result;
}

double TOrbSource::EffectTimeOf(int64_t index) {
    if (m_options.Repeat != TRepeatMode::Repeat && index >= m_options.SlideCount) return 0;
    const TSlideEffect effect = SlideEffect(index);
    return effect.EffectClass <= kNoEffectClass ? 0 : effect.EffectTime;
}

std::u16string TOrbSource::SlideIdOf(int64_t index) const {
    const ql::TIniSection* slide = SlideSection(*m_document, index);
    if (!slide) return {};
    std::u16string id = slide->ReadString(u"slideid", u"");
    if (id.empty()) id = BareFileName(slide->ReadString(u"picture", u""));
    return id;
}

void TOrbSource::BuildSlideList() {
    m_slides.resize(size_t(m_options.SlideCount));
    double previousEnd = 0;
    for (int32_t i = 0; i < m_options.SlideCount; ++i) {
        const double end = m_main->ReadInteger(Suffixed(u"opt_synchpos", i + 1), 0);
        if (end < previousEnd) throw EOrbSourceError(kIncorrectTimeText);
        TSlideInfo& info = m_slides[size_t(i)];
        info.EffectTime = EffectTimeOf(i);
        info.NextEffectTime = EffectTimeOf(int64_t(i) + 1);
        info.BeginTime = previousEnd;
        info.EndTime = end;
        if (info.EndTime - info.BeginTime < info.EffectTime)
            info.EffectTime = info.EndTime - info.BeginTime;
        info.NextEffectEnd = info.EndTime + info.NextEffectTime;
        m_totalTime = info.EndTime;
        info.SlideId = SlideIdOf(i);
        previousEnd = end;
    }
    if (!(m_totalTime > 0)) throw EOrbSourceError("The show has no duration");
}

TSlideAtIndex TOrbSource::SlideInfo(int64_t index) const {
    TSlideAtIndex result;
    if (index == -1) {
        result.Info.BeginTime = -1073741823;
        result.Info.NextEffectTime = m_slides.front().EffectTime;
        result.Info.NextEffectEnd = result.Info.NextEffectTime;
        result.Cycle = -1;
        return result;
    }
    if (index < -1) {
        result.Info.BeginTime = -2147483647;
        result.Info.EndTime = -1073741823;
        result.Info.NextEffectEnd = -1073741823;
        result.Cycle = -1;
        return result;
    }
    result.Cycle = index / m_options.SlideCount;
    result.Info = m_slides[size_t(index % m_options.SlideCount)];
    if (result.Cycle != 0) {
        const double shift = double(result.Cycle) * m_totalTime;
        result.Info.BeginTime += shift;
        result.Info.EndTime += shift;
        result.Info.NextEffectEnd += shift;
    }
    return result;
}

TSlideAtTime TOrbSource::SlideAtTime(double time) const {
    // Everything up to 0 is the time before the show; NaN compares as nothing.
    if (!(time > 0)) return TSlideAtTime{};
    const int64_t last = m_options.SlideCount - 1;
    const double estimate = std::floor(time / m_totalTime);
    const int64_t cycle = estimate >= double(kMaxShowCycle) ? kMaxShowCycle : int64_t(estimate);
    // Slide boundaries of a cycle are shifted exactly as SlideInfo shifts
    // them, which rounding may place on either side of cycle * total; the
    // cycle before is tried first since a boundary belongs to the earlier slide.
    for (int64_t c = std::max<int64_t>(cycle - 1, 0); c <= std::min(cycle + 1, kMaxShowCycle);
         ++c) {
        const double shift = double(c) * m_totalTime;
        if (time < m_slides.front().BeginTime + shift || time > m_slides.back().EndTime + shift)
            continue;
        const auto found = std::lower_bound(
            m_slides.begin(), m_slides.end(), time,
            [shift](const TSlideInfo& slide, double t) { return slide.EndTime + shift < t; });
        const int64_t i = found == m_slides.end() ? last : int64_t(found - m_slides.begin());
        return TSlideAtTime{c * m_options.SlideCount + i, c};
    }
    // Past the last cycle considered, or in a gap that rounding opened.
    return TSlideAtTime{cycle * m_options.SlideCount + last, cycle};
}

TSlideEndAction TOrbSource::SlideEndAction(int64_t index) const {
    TSlideEndAction result;
    if (index < 0 || index >= m_options.SlideCount) return result;
    const bool manual = m_options.ManualShow;
    int32_t action = manual ? 0 : -1;
    const ql::TIniSection* slide = SlideSection(*m_document, index);
    if (slide && slide->ReadBool(u"UsePersonal", false)) {
        // A slide with its own settings and no end action never stops; an
        // empty one defers to the show.
        action = -1;
        if (slide->FindIdent(u"Pers_EndAction")) {
            const std::u16string text = ql::LowerCase(slide->ReadString(u"Pers_EndAction", u""));
            if (text == u"pause") action = 0;
            if (text == u"loop") action = 1;
            if (text.empty() && manual) action = 0;
        }
    }
    result.Stops = action == 0 || action == 1;
    result.Loops = action == 1;
    if (result.Loops) {
        const TSlideInfo& info = m_slides[size_t(index)];
        result.LoopLength = info.EndTime - info.BeginTime - info.EffectTime;
    }
    return result;
}

TSlideRunApp TOrbSource::SlideRunApp(int64_t index) const {
    TSlideRunApp result;
    if (index < 0 || index >= m_options.SlideCount) return result;
    const ql::TIniSection* slide = SlideSection(*m_document, index);
    if (!slide) return result;
    result.Runs = slide->ReadBool(u"Pers_RunApp", false);
    if (result.Runs) result.FileName = slide->ReadString(u"RunAppFN", u"");
    return result;
}

TStopPoint TOrbSource::NextStopPoint(double time, std::optional<int64_t> startIndex) const {
    const bool repeat = m_options.Repeat == TRepeatMode::Repeat;
    int64_t index = startIndex ? *startIndex : SlideAtTime(time).Index;
    index = std::max<int64_t>(index, 0);
    // One round of the slides decides; slides that end at or before the time
    // do not count against it, but are bounded too.
    int64_t counted = 0, skipped = 0;
    for (; counted < m_options.SlideCount && skipped <= m_options.SlideCount; ++index) {
        if (!repeat && index >= m_options.SlideCount) break;
        const TSlideAtIndex at = SlideInfo(index);
        if (!(at.Info.EndTime > time)) {
            ++skipped;
            continue;
        }
        ++counted;
        const TSlideEndAction action = SlideEndAction(index % m_options.SlideCount);
        if (action.Stops) return TStopPoint{index, at.Info.EndTime, action.LoopLength};
    }
    if (repeat) return TStopPoint{};
    return TStopPoint{m_options.SlideCount - 1, m_totalTime, 0};
}

}  // namespace orb
