#include "OrbLib2/3DEngine/qlTriController.h"

#include <algorithm>
#include <cmath>

namespace orb {

// ---- T2DSeparator ----

float T2DSeparator::Side(const TCutVertex& v) const {
    const float d = (m_vertical ? v.x : v.y) - m_position * v.w;
    return m_keepGreater ? d : -d;
}

int32_t T2DSeparator::Cut(const TCutVertex* in, int32_t count, TCutVertex* out) const {
    int32_t n = 0;
    for (int32_t i = 0; i < count && n < kMaxCorners - 1; ++i) {
        const TCutVertex& a = in[i];
        const TCutVertex& b = in[(i + 1) % count];
        const float da = Side(a), db = Side(b);
        if (da >= 0) out[n++] = a;
        if ((da >= 0) != (db >= 0)) {
            const float k = da / (da - db);
            auto mix = [k](float p, float q) { return p + (q - p) * k; };
            out[n++] = {mix(a.x, b.x), mix(a.y, b.y), mix(a.w, b.w), mix(a.s, b.s), mix(a.t, b.t),
                        mix(a.r, b.r), mix(a.g, b.g), mix(a.b, b.b), mix(a.a, b.a)};
        }
    }
    return n >= 3 ? n : 0;
}

// ---- TEffController ----

void TEffController::SetMapping(const ql::TRect& filter, const ql::TRect& target) {
    m_filter = filter;
    m_target = target;
    m_scaleX = filter.Width() > 0 ? float(target.Width()) / float(filter.Width()) : 1.0f;
    m_scaleY = filter.Height() > 0 ? float(target.Height()) / float(filter.Height()) : 1.0f;
    if (m_cells.size() <= 1) {
        TD3DTriTile cell = m_cells.empty() ? TD3DTriTile() : m_cells[0];
        cell.rect = target;
        m_cells.assign(1, cell);
    }
}

void TEffController::SetGrid(std::span<const int32_t> xCuts, std::span<const int32_t> yCuts) {
    std::vector<int32_t> xs{m_target.left}, ys{m_target.top};
    for (int32_t x : xCuts)
        if (x > xs.back() && x < m_target.right) xs.push_back(x);
    for (int32_t y : yCuts)
        if (y > ys.back() && y < m_target.bottom) ys.push_back(y);
    xs.push_back(m_target.right);
    ys.push_back(m_target.bottom);
    m_cells.clear();
    for (size_t j = 0; j + 1 < ys.size(); ++j)
        for (size_t i = 0; i + 1 < xs.size(); ++i) m_cells.push_back({{xs[i], ys[j], xs[i + 1], ys[j + 1]}, nullptr, {}});
}

void TEffController::SetTexture(TCustomTexture* texture, ql::TPoint origin) {
    for (TD3DTriTile& cell : m_cells) {
        cell.texture = texture;
        cell.origin = origin;
    }
}

void TEffController::SetCellTexture(int32_t cell, TCustomTexture* texture, ql::TPoint origin) {
    if (cell < 0 || cell >= CellCount()) return;
    m_cells[size_t(cell)].texture = texture;
    m_cells[size_t(cell)].origin = origin;
}

void TEffController::Begin() {
    m_corners.clear();
    m_batches.clear();
    m_open = true;
}

TCutVertex TEffController::Map(float x, float y, float w, float s, float t) const {
    // Affine on the screen point (x / w, y / w); texture positions are plain.
    TCutVertex v;
    const float fx = float(m_filter.left), fy = float(m_filter.top);
    const float tx = float(m_target.left), ty = float(m_target.top);
    v.x = (x - fx * w) * m_scaleX + tx * w;
    v.y = (y - fy * w) * m_scaleY + ty * w;
    v.w = w;
    v.s = (s - fx) * m_scaleX + tx;
    v.t = (t - fy) * m_scaleY + ty;
    return v;
}

void TEffController::Append(TBatchKind kind, const TCutVertex& v) {
    if (m_batches.empty() || m_batches.back().kind != kind) m_batches.push_back({kind, m_corners.size(), 0});
    m_corners.push_back(v);
    m_batches.back().count++;
}

void TEffController::AddTriangles(std::span<const TEffVertex> vertices) {
    const size_t whole = vertices.size() / 3 * 3;
    for (size_t i = 0; i < whole; ++i) {
        const TEffVertex& e = vertices[i];
        TCutVertex v = Map(e.x, e.y, 1, e.x, e.y);
        v.a = std::clamp(e.opacity, 0.0f, 255.0f);
        Append(TBatchKind::Shape, v);
    }
}

void TEffController::AddStrip(std::span<const TEffVertex> vertices) {
    for (size_t i = 2; i < vertices.size(); ++i) {
        const TEffVertex triangle[3] = {vertices[i - 2], vertices[i - 1], vertices[i]};
        AddTriangles(triangle);
    }
}

void TEffController::AddFan(std::span<const TEffVertex> vertices) {
    for (size_t i = 2; i < vertices.size(); ++i) {
        const TEffVertex triangle[3] = {vertices[0], vertices[i - 1], vertices[i]};
        AddTriangles(triangle);
    }
}

void TEffController::AddMesh(std::span<const TMeshVertex> vertices) {
    const size_t whole = vertices.size() / 3 * 3;
    for (size_t i = 0; i < whole; ++i) {
        const TMeshVertex& m = vertices[i];
        TCutVertex v = Map(m.x, m.y, m.w, m.s, m.t);
        v.a = float(m.colour >> 24), v.r = float(m.colour >> 16 & 255), v.g = float(m.colour >> 8 & 255),
        v.b = float(m.colour & 255);
        Append(TBatchKind::Mesh, v);
    }
}

void TEffController::FillMesh(std::span<const TMeshVertex> vertices) {
    const size_t whole = vertices.size() / 3 * 3;
    for (size_t i = 0; i < whole; ++i) {
        const TMeshVertex& m = vertices[i];
        TCutVertex v = Map(m.x, m.y, m.w, m.s, m.t);
        v.a = float(m.colour >> 24), v.r = float(m.colour >> 16 & 255), v.g = float(m.colour >> 8 & 255),
        v.b = float(m.colour & 255);
        Append(TBatchKind::Fill, v);
    }
}

void TEffController::End() {
    if (!m_open) return;
    m_open = false;
    m_drawn = 0;
    for (const TD3DTriTile& cell : m_cells) DrawCell(cell);
}

void TEffController::DrawCell(const TD3DTriTile& cell) {
    if (cell.rect.IsEmpty()) return;
    const TTextureHandle handle = cell.texture ? cell.texture->GetTexture() : 0;
    const float invW = cell.texture ? float(cell.texture->InvWidth()) : 0;
    const float invH = cell.texture ? float(cell.texture->InvHeight()) : 0;
    const T2DSeparator cuts[4] = {{true, float(cell.rect.left), true},
                                  {true, float(cell.rect.right), false},
                                  {false, float(cell.rect.top), true},
                                  {false, float(cell.rect.bottom), false}};
    auto channel = [](float c) { return uint32_t(std::lround(std::clamp(c, 0.0f, 255.0f))); };
    for (const TBatch& batch : m_batches) {
        if (batch.kind != TBatchKind::Fill && handle == 0) continue;
        m_out.clear();
        for (size_t i = batch.first; i + 3 <= batch.first + batch.count; i += 3) {
            TCutVertex a[T2DSeparator::kMaxCorners], b[T2DSeparator::kMaxCorners];
            a[0] = m_corners[i], a[1] = m_corners[i + 1], a[2] = m_corners[i + 2];
            int32_t n = 3;
            for (const T2DSeparator& cut : cuts) {
                n = cut.Cut(a, n, b);
                std::copy(b, b + n, a);
                if (n == 0) break;
            }
            for (int32_t k = 1; k + 1 < n; ++k) {
                for (const TCutVertex* c : {&a[0], &a[k], &a[k + 1]}) {
                    TVertex v;
                    v.x = c->x, v.y = c->y, v.w = c->w;
                    v.u = (c->s - float(cell.origin.x)) * invW;
                    v.v = (c->t - float(cell.origin.y)) * invH;
                    v.colour = channel(c->a) << 24 | channel(c->r) << 16 | channel(c->g) << 8 | channel(c->b);
                    m_out.push_back(v);
                }
                ++m_drawn;
            }
        }
        if (m_out.empty()) continue;
        TDrawState state;
        state.pipeline = batch.kind == TBatchKind::Fill ? TPipeline::Colour : TPipeline::Texture;
        // Shape triangles show the slide where it lies, one texel per pixel.
        state.filter = batch.kind == TBatchKind::Shape ? TFilter::Point : TFilter::Bilinear;
        state.textures[0] = batch.kind == TBatchKind::Fill ? 0 : handle;
        m_screen.DrawTriangles(state, m_out);
    }
}

}  // namespace orb
