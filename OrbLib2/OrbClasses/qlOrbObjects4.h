// Show objects: the tree of a slide, the keys common to every object, the
// placement of an object in 3D relative to its parent, hit testing and the
// process-wide chain of object factories.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "OrbLib2/3DEngine/qlDrawManager2.h"
#include "OrbLib2/OrbClasses/qlOrbActionInfo.h"
#include "OrbLib2/OrbClasses/qlOrbKeyPoints.h"
#include "QlLib/SysObj.h"
#include "QlLib/qpExceptions.h"

namespace ql {
class TIniIdentList;
}

namespace orb {

class TOrbObject;
class TOrbSlide;
class TOrbSlideHost;

// Objects nest at most this deep below their slide; deeper blocks are skipped.
constexpr int kMaxObjectDepth = 32;
// A slide holds at most this many objects; further blocks are skipped.
constexpr int kMaxObjectsPerSlide = 20000;

enum TFitMode : uint8_t { fmNone = 0, fmPlaceInto = 1, fmCover = 2 };
enum TPosMode : uint8_t { pmAbsolute = 0, pmPercent = 1 };

// The look of a clickable object (buttons, texts) under the mouse.
enum class TMouseLook : uint8_t { Normal = 0, Hover = 1, Click = 2 };

// A drawable item: changed (a parameter that affects drawing changed) and
// moved (the placement changed since the last draw).
class TOrbParams : public ql::TObj, public TDrawItem, public TKeyPointOwner {
public:
    TOrbParams() : m_keyPoints(this) {}

    TKeyPoints& KeyPoints() { return m_keyPoints; }
    const TKeyPoints& KeyPoints() const { return m_keyPoints; }

    bool Changed() const { return m_changed; }
    void SetChanged(bool on) { m_changed = on; }
    bool Moved() const { return m_moved; }
    void SetMoved(bool on) { m_moved = on; }

    // 0 without a slide.
    double AnchorTime(int anchor) const override { return 0; }

protected:
    TKeyPoints m_keyPoints;
    bool m_changed = false;
    bool m_moved = false;
};

struct TObjectShadow {
    bool Enabled = false;
    float Distance = 1.5f;
    double Angle = 45;  // degrees
    float Size = 16;
    uint8_t Colour[3] = {0, 0, 0};  // red, green, blue
    float Opacity = 59;             // percent
    int32_t SpreadIndex = 0;
    bool Is3D = false;
};

// A point of the slide's 3D space and a point of an object's own plane.
struct TObjectFrame {
    TScenePlane Plane;  // origin at the rotation centre, axes per own unit
    TPoint3F AxisZ;     // the depth axis (per own unit)
    bool Flat = true;
};

// Returns nullptr for a type it does not know. The type is lower-cased.
using TObjectFactory = std::function<std::unique_ptr<TOrbObject>(
    const std::u16string& type, TOrbObject* parent, const std::u16string& guid)>;
// Puts a factory in front of the chain (process-wide; call at start-up).
void RegisterObjectFactory(TObjectFactory factory);
// Asks the chain; the built-in end of the chain makes video objects. nullptr
// when nobody made one.
std::unique_ptr<TOrbObject> CreateObject(const std::u16string& type, TOrbObject* parent,
                                         const std::u16string& guid);

// Key readers the object kinds share.
// "r,g,b", each clamped to 0..255; black when any part is missing or not a number.
void ReadColour(const ql::TIniIdentList& section, std::u16string_view key, uint8_t (&colour)[3]);
// "a,b" as two integers; nothing when the key is missing or malformed.
std::optional<ql::TPoint> ReadIntegerPair(const ql::TIniIdentList& section,
                                          std::u16string_view key);

// A fresh GUID in its text form "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}".
std::u16string NewGuidText();

class TOrbObject : public TOrbParams {
public:
    // Filter of FindAt: whether the object may be found.
    using TFindFilter = std::function<bool(const TOrbObject&)>;

    // The parent is remembered; the caller hands the object to the parent's
    // AddChild. An empty GUID gets a fresh one.
    TOrbObject(TOrbObject* parent, std::u16string guid);
    ~TOrbObject() override;
    TOrbObject(const TOrbObject&) = delete;
    TOrbObject& operator=(const TOrbObject&) = delete;

    // --- the tree
    TOrbObject* Parent() const { return m_parent; }
    int ChildCount() const { return static_cast<int>(m_children.size()); }
    TOrbObject& Child(int index) const;
    // -1 without a parent.
    int IndexInParent() const;
    TOrbObject& AddChild(std::unique_ptr<TOrbObject> child);
    // Hands the child back (nullptr when it is not a child of this object).
    std::unique_ptr<TOrbObject> RemoveChild(TOrbObject& child);
    // Owned auxiliary items, freed with the object.
    void AddOwnedItem(std::unique_ptr<ql::TObj> item) { m_ownedItems.push_back(std::move(item)); }
    // 0 for a slide, 1 for its objects...
    int Level() const;
    // Objects in the subtree, this one included.
    int CountTree() const;

    // --- identity and keys
    const std::u16string& Name() const { return m_name; }
    void SetName(std::u16string name) { m_name = std::move(name); }
    const std::u16string& GUID() const { return m_guid; }
    bool TranspForClick() const { return m_transpForClick; }
    void SetTranspForClick(bool on) { m_transpForClick = on; }
    const std::u16string& Action() const { return m_action; }
    void SetAction(std::u16string action) { m_action = std::move(action); }
    const TObjectShadow& Shadow() const { return m_shadow; }
    TObjectShadow& Shadow() { return m_shadow; }
    int32_t Width() const { return m_width; }
    int32_t Height() const { return m_height; }
    // Negative sizes become 0.
    void SetSize(int32_t width, int32_t height);
    int32_t HideMode() const { return (m_hideFront ? 1 : 0) | (m_hideBack ? 2 : 0); }
    // 0 .. 3; other values become 0.
    void SetHideMode(int32_t mode);
    bool ChildInvis() const { return m_childInvis; }
    void SetChildInvis(bool on) { m_childInvis = on; }
    bool TreeNode() const { return m_treeNode; }
    double DeltaTime1() const { return m_deltaTime1; }
    double DeltaTime2() const { return m_deltaTime2; }
    void SetDeltaTimes(double delta1, double delta2);
    TFitMode FitMode() const { return m_fitMode; }
    void SetFitMode(TFitMode mode) { m_fitMode = mode; }
    TPosMode PosMode() const { return m_posMode; }
    void SetPosMode(TPosMode mode) { m_posMode = mode; }
    TPosMode CenterMode() const { return m_centerMode; }
    void SetCenterMode(TPosMode mode) { m_centerMode = mode; }

    // --- state
    // The show time lies in the active interval (as of the last ApplyTime).
    bool Active() const { return m_active; }
    bool HiddenByParent() const { return m_hiddenByParent; }
    // The camera sees the side that HideMode lets show.
    bool ShownFromCamera() const { return m_shownFromCamera; }
    // Active, not hidden by HideMode nor by a parent, and not edge-on or of
    // no size: what Draw and FindAt take part in.
    bool IsShown() const;
    float LastOpacity() const { return m_lastOpacity; }
    // The required display size of the last pre-scan.
    float RequiredWidth() const { return m_requiredWidth; }
    float RequiredHeight() const { return m_requiredHeight; }
    // The fit factor and the effective scales of the last placement.
    double FitFactor() const { return m_fitFactor; }
    double EffectiveScaleX() const { return m_scaleX; }
    double EffectiveScaleY() const { return m_scaleY; }
    // Rows of the object's world matrix (object matrix x parent's).
    const std::array<float, 9>& WorldMatrix() const { return m_matrix; }
    const TObjectFrame& Frame() const { return m_frame; }
    // Where the local rectangle starts relative to the origin, in own units.
    TPointF CenterOffset() const { return m_centerOffset; }
    // The object's rectangle on its 3D plane: local (0, 0) is the rectangle's
    // start (the centre offset), one unit per own pixel.
    TScenePlane Plane() const;
    // The camera of the host (through the slide).
    TCamera3D Camera() const;
    // The mouse look of buttons and texts; others ignore it.
    virtual void SetMouseLook(TMouseLook look) {}
    virtual bool UsesMouseLook() const { return false; }
    bool Pressed() const { return m_pressed; }
    void SetPressed(bool on) { m_pressed = on; }

    // --- the virtual operations
    // Changed or moved, or any child changed.
    virtual bool IsChanged() const;
    virtual void RefreshChildren(int kind);
    // Prepare, then ClearChanged, then every child. A child's failure does not
    // stop the others.
    virtual void AttachDrawer(TDeviceDrawer& drawer);
    // Decodes the pictures that AttachDrawer will upload, the children's
    // too, without the device (see TDeviceDrawer::DecodeImage). Never raises:
    // a picture that fails here fails again, and is logged, when attached.
    virtual void DecodePictures(TDeviceDrawer& drawer);
    // Percent: the slide's opacity x the current Opacity / 100.
    virtual float EffectiveOpacity() const;
    // Recomputes the 3D frame; whether anything changed.
    virtual bool UpdatePlacement(bool recursive);
    double AnchorTime(int anchor) const override;
    // The parent's size in the parent's units (own size for a slide).
    virtual TPointF ParentSize() const;
    virtual const TObjectFrame* ParentFrame() const;
    // The point (x, y) of the screen lies on the object's rectangle; local is
    // the point in own units from the rectangle's start.
    virtual bool HitTest(float x, float y, TPointF* local) const;
    virtual void Prepare(TDeviceDrawer& drawer) {}
    // Adds the key point of a "KeyPoint" block.
    virtual void LoadKeyPointValues(const ql::TIniIdentList& block);
    virtual void LoadChildren(const ql::TIniIdentList& section);
    virtual void LoadFromDocument(const ql::TIniIdentList& section, bool reload);
    // Moves the key points to t and works out the active state.
    virtual void ApplyTime(bool recursive, double t);
    virtual void Init() {}
    // "ShadowEnable" when the key is missing: texts override it.
    virtual bool DefaultShadowEnable() const { return false; }
    virtual void SetPreScanFlag(bool on);
    virtual TOrbSlideHost* Host() const;
    virtual TOrbSlide* Slide() const;
    // Whether the host lets the object take part in perspective hit tests.
    virtual bool HostAccepts() const { return true; }
    virtual bool IsAnimated() const;
    // Draws the children in order.
    virtual void Draw(TDeviceDrawer& drawer);
    virtual void SecondPass(TDeviceDrawer& drawer, double t);
    virtual void CollectDrawItems(std::vector<TOrbObject*>& list);
    // The topmost shown object under a screen point (children before the
    // object, the last child first); nullptr when none.
    virtual TOrbObject* FindAt(float x, float y, const TFindFilter& filter, TPointF* local);
    // useFilter: skip objects whose TranspForClick is set.
    TOrbObject* FindAtSimple(float x, float y, bool useFilter, TPointF* local);
    // ApplyTime then UpdatePlacement.
    virtual void SetTime(bool recursive, double t);
    virtual void ClearChanged(bool recursive);

    // The rectangle's corners in 3D: start, start + (w, 0), start + (w, h),
    // start + (0, h), moved outward by margin along the normalised axes.
    std::array<TPoint3F, 4> Corners(float margin = 0) const;
    std::array<TPointF, 4> ScreenCorners(float margin = 0) const;

protected:
    friend class TOrbSlide;
    // The fit factor for the parent's size; 1 for FitMode "None".
    double ComputeFitFactor(TPointF parentSize) const;
    // Reads the keys common to every object.
    void LoadCommonKeys(const ql::TIniIdentList& section);
    void ResetScanAccumulators();
    void AccumulateScan();
    void FinishScan(float cameraZ);
    // Works out the frame in the parent's frame from the current key values;
    // parentCentre is the parent's rectangle centre in its own units, and
    // parentMatrix nullptr for a root. Whether anything moved.
    bool PlaceInFrame(const TObjectFrame& parent, TPointF parentCentre, TPointF parentSize,
                      const std::array<float, 9>* parentMatrix);
    // The frame a root is placed in: the screen, with its origin at rootOrigin.
    virtual TPointF RootOrigin() const { return {0, 0}; }

    // The slide's depth factor; 0.5 without a slide.
    float DepthFactor() const;

    TOrbObject* m_parent;
    std::vector<std::unique_ptr<TOrbObject>> m_children;
    std::vector<std::unique_ptr<ql::TObj>> m_ownedItems;
    std::u16string m_name;
    std::u16string m_guid;
    bool m_transpForClick = false;
    std::u16string m_action;
    TObjectShadow m_shadow;

    // Placement state.
    double m_sin[3] = {0, 0, 0};  // AngleX, AngleY, Angle
    double m_cos[3] = {1, 1, 1};
    double m_fitFactor = 1;
    double m_scaleX = 1, m_scaleY = 1;
    std::array<float, 9> m_matrix{1, 0, 0, 0, 1, 0, 0, 0, 1};
    TObjectFrame m_frame;
    TPointF m_centerOffset{0, 0};

    int32_t m_width = 0, m_height = 0;
    bool m_hideFront = false, m_hideBack = false;
    bool m_childInvis = false;
    bool m_treeNode = true;
    bool m_hiddenByParent = false;
    bool m_shownFromCamera = true;
    bool m_degenerate = false;  // edge-on or of no size on the screen

    float m_requiredWidth = 0, m_requiredHeight = 0;
    float m_scanWidth = 0, m_scanHeight = 0, m_scanDepth = 1000000;
    double m_deltaTime1 = 0, m_deltaTime2 = 0;
    bool m_active = false;
    float m_lastOpacity = -1;
    TFitMode m_fitMode = fmPlaceInto;
    TPosMode m_posMode = pmPercent;
    TPosMode m_centerMode = pmPercent;
    bool m_preScan = false;
    bool m_pressed = false;
};

}  // namespace orb
