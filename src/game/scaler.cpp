#include "game/scaler.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "art/canvas.h"
#include "core/numbers.h"

namespace zobra {

namespace {

constexpr std::size_t canvas_bytes = canvas_width * canvas_height * 4;
constexpr std::size_t row_bytes = canvas_width * 4;

// The cells in which a new canvas is compared with the one on screen: a
// tile wide, half a tile high, 20 × 25 of them.
constexpr std::uint32_t cell_width = 16;
constexpr std::uint32_t cell_height = 8;
constexpr std::uint32_t cell_columns = canvas_width / cell_width;
constexpr std::uint32_t cell_rows = canvas_height / cell_height;
static_assert(cell_columns <= 32 && cell_columns * cell_width == canvas_width);
static_assert(cell_rows * cell_height == canvas_height);
// More rectangles than this are merged into whole rows of cells: every
// rectangle is one request to the window system.
constexpr std::size_t max_rectangles = 48;

std::uint32_t word_at(const std::uint8_t* pixel) {
    return (std::uint32_t{pixel[0]} << 16) | (std::uint32_t{pixel[1]} << 8) | pixel[2];
}

void store_words(std::uint32_t* to, const std::uint32_t* from, std::size_t count) {
    if (count > 0) std::memcpy(to, from, count * sizeof(std::uint32_t));
}

void clear_words(std::uint32_t* to, std::size_t count) {
    if (count > 0) std::memset(to, 0, count * sizeof(std::uint32_t));
}

// A scratch row of words that only grows.
std::uint32_t* scratch_row(std::size_t words) {
    thread_local std::vector<std::uint32_t> row;
    if (row.size() < words) row.resize(words);
    return row.data();
}

// The picture inside a w × h target and which canvas column and row each of
// its columns and rows shows (nearest neighbour).
class Picture {
  public:
    Picture(std::uint32_t w, std::uint32_t h)
        : place(scaled_placement(w, h)),
          factor(place.width % canvas_width == 0 ? place.width / canvas_width : 0) {
        if (factor == 0) {
            // A fractional factor needs the column map; it is kept while the
            // picture keeps its width.
            thread_local std::vector<std::uint32_t> map;
            thread_local std::uint32_t map_width = 0;
            if (map_width != place.width || map.size() != place.width) {
                map.resize(place.width);
                for (std::uint32_t c = 0; c < place.width; ++c)
                    map[c] = static_cast<std::uint32_t>(std::min<std::uint64_t>(
                        std::uint64_t{c} * canvas_width / place.width, canvas_width - 1));
                map_width = place.width;
            }
            column_map = map.data();
        }
    }

    std::uint32_t source_row(std::uint32_t r) const {
        return static_cast<std::uint32_t>(std::min<std::uint64_t>(
            std::uint64_t{r} * canvas_height / place.height, canvas_height - 1));
    }
    // The first picture column that shows canvas column x or one right of
    // it: columns c with c × 320 div width ≥ x, that is c × 320 ≥ x × width.
    std::uint32_t first_column_showing(std::uint32_t x) const {
        return static_cast<std::uint32_t>((std::uint64_t{x} * place.width + canvas_width - 1) /
                                          canvas_width);
    }
    std::uint32_t first_row_showing(std::uint32_t y) const {
        return static_cast<std::uint32_t>((std::uint64_t{y} * place.height + canvas_height - 1) /
                                          canvas_height);
    }

    // Picture columns c0 … c1 − 1 of a canvas row, into line[c0 …]. With a
    // whole factor the line is written in whole blocks of `factor` words,
    // so a few words either side of c0 … c1 − 1 may change as well.
    void expand(const std::uint8_t* canvas_row, std::uint32_t* line, std::uint32_t c0,
                std::uint32_t c1) const {
        if (c0 >= c1) return;
        if (factor == 0) {
            for (std::uint32_t c = c0; c < c1; ++c)
                line[c] = word_at(canvas_row + 4 * column_map[c]);
            return;
        }
        const std::uint32_t x0 = c0 / factor;
        const std::uint32_t x1 = (c1 - 1) / factor + 1;
        std::uint32_t* out = line + std::size_t{x0} * factor;
        switch (factor) {
            // clang-format off
            case 2: spread<2>(canvas_row, x0, x1, out); break;
            case 3: spread<3>(canvas_row, x0, x1, out); break;
            case 4: spread<4>(canvas_row, x0, x1, out); break;
            case 5: spread<5>(canvas_row, x0, x1, out); break;
            case 6: spread<6>(canvas_row, x0, x1, out); break;
            default:
                for (std::uint32_t x = x0; x < x1; ++x, out += factor)
                    std::fill(out, out + factor, word_at(canvas_row + 4 * x));
                break;
                // clang-format on
        }
    }

    // Canvas pixels x0 … x1 − 1, each `s` times. With SSE2 four pixels are
    // converted at once and spread over s stores of four words: word j of
    // store i shows pixel (4i + j) div s.
    template <std::uint32_t s>
    static void spread(const std::uint8_t* canvas_row, std::uint32_t x0, std::uint32_t x1,
                       std::uint32_t* out) {
        std::uint32_t x = x0;
#if defined(__SSE2__)
        for (; x + 4 <= x1; x += 4, out += 4 * s)
            spread_four<s>(convert_four(canvas_row + 4 * x), out, std::make_index_sequence<s>{});
#endif
        for (; x < x1; ++x, out += s) std::fill(out, out + s, word_at(canvas_row + 4 * x));
    }

#if defined(__SSE2__)
    // Bytes red, green, blue, alpha read as little-endian words 0xAABBGGRR:
    // red and blue swap places and alpha goes.
    static __m128i convert_four(const std::uint8_t* pixels) {
        const __m128i p = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pixels));
        const __m128i low = _mm_set1_epi32(0xFF);
        const __m128i red = _mm_slli_epi32(_mm_and_si128(p, low), 16);
        const __m128i blue = _mm_and_si128(_mm_srli_epi32(p, 16), low);
        return _mm_or_si128(_mm_or_si128(red, blue), _mm_and_si128(p, _mm_set1_epi32(0xFF00)));
    }

    template <std::uint32_t s, std::uint32_t i>
    static constexpr int lanes() {
        return static_cast<int>((4 * i) / s | ((4 * i + 1) / s) << 2 | ((4 * i + 2) / s) << 4 |
                                ((4 * i + 3) / s) << 6);
    }

    // The shuffle is a macro in some compilers: its lane order is named
    // first, so that no template comma splits the macro's arguments.
    template <std::uint32_t s, std::uint32_t i>
    static void store_spread(__m128i words, std::uint32_t* out) {
        constexpr int order = lanes<s, i>();
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 4 * i), _mm_shuffle_epi32(words, order));
    }

    template <std::uint32_t s, std::size_t... i>
    static void spread_four(__m128i words, std::uint32_t* out, std::index_sequence<i...>) {
        (store_spread<s, static_cast<std::uint32_t>(i)>(words, out), ...);
    }
#endif

    // Draws picture columns c0 … c1 − 1 of picture rows r0 … r1 − 1 into a
    // target w words wide. A picture row that shows the same canvas row as
    // the one above it is stored again from the same expanded line.
    void draw(const std::uint8_t* canvas, std::uint32_t* target, std::uint32_t w, std::uint32_t c0,
              std::uint32_t c1, std::uint32_t r0, std::uint32_t r1) const {
        std::uint32_t* line = scratch_row(place.width);
        std::uint32_t expanded = UINT32_MAX;
        for (std::uint32_t r = r0; r < r1; ++r) {
            const std::uint32_t source = source_row(r);
            if (source != expanded) {
                expand(canvas + std::size_t{source} * row_bytes, line, c0, c1);
                expanded = source;
            }
            store_words(target + std::size_t{place.top + r} * w + place.left + c0, line + c0,
                        c1 - c0);
        }
    }

    Placement place;
    std::uint32_t factor = 0;  // the whole scale factor, or 0 for a fractional one
    const std::uint32_t* column_map = nullptr;
};

// A rectangle of canvas cells: columns x0 … x1 − 1, rows y0 … y1 − 1.
struct CellRect {
    std::uint32_t x0 = 0, x1 = 0, y0 = 0, y1 = 0;
};

// Runs of changed cells in each row of cells, joined downwards while a run
// below covers exactly the same columns.
void join_cells(const std::uint32_t (&changed)[cell_rows], bool whole_rows,
                std::vector<CellRect>& rects) {
    rects.clear();
    for (std::uint32_t y = 0; y < cell_rows; ++y) {
        std::uint32_t bits = changed[y];
        if (whole_rows && bits != 0) bits = (1u << cell_columns) - 1;
        for (std::uint32_t x = 0; x < cell_columns;) {
            if ((bits >> x & 1u) == 0) {
                ++x;
                continue;
            }
            std::uint32_t end = x;
            while (end < cell_columns && (bits >> end & 1u) != 0) ++end;
            auto above = std::find_if(rects.begin(), rects.end(), [&](const CellRect& r) {
                return r.y1 == y && r.x0 == x && r.x1 == end;
            });
            if (above != rects.end())
                above->y1 = y + 1;
            else
                rects.push_back({x, end, y, y + 1});
            x = end;
        }
    }
}

}  // namespace

Placement scaled_placement(std::uint32_t w, std::uint32_t h) {
    constexpr float canvas_w = static_cast<float>(canvas_width);
    constexpr float canvas_h = static_cast<float>(canvas_height);
    const float by_width = static_cast<float>(w) / canvas_w;
    const float by_height = static_cast<float>(h) / canvas_h;
    float s = std::isnan(by_height) ? by_width : std::min(by_width, by_height);
    if (s >= 2.0f) s = std::floor(s);

    auto side = [](float length, std::uint32_t limit) {
        std::uint32_t d = saturate_cast<std::uint32_t>(length);
        return d == 0 ? 1u : std::min(d, limit);
    };
    Placement p;
    p.width = side(canvas_w * s, w);
    p.height = side(canvas_h * s, h);
    p.left = (w - p.width) / 2;
    p.top = (h - p.height) / 2;
    return p;
}

void present_scaled(std::span<const std::uint8_t> canvas, std::span<std::uint32_t> target,
                    std::uint32_t w, std::uint32_t h) {
    // A target without width or height has no room for even the one-pixel
    // picture: the margins around it would come out negative.
    const std::size_t area = std::size_t{w} * h;
    if (area == 0 || target.size() < area || canvas.size() < canvas_bytes) {
        clear_words(target.data(), target.size());
        return;
    }
    // Every pixel is written once: the bars black, the picture from rows
    // that are expanded once per canvas row.
    clear_words(target.data() + area, target.size() - area);
    const Picture picture(w, h);
    const Placement& p = picture.place;
    clear_words(target.data(), std::size_t{p.top} * w);
    clear_words(target.data() + std::size_t{p.top + p.height} * w,
                std::size_t{h - p.top - p.height} * w);

    // The picture rows showing one canvas row: the first is drawn, the
    // others are copies of it, bars included, made by doubling the rows
    // already there (one, two, four …) so that the copies are few and long.
    const std::uint32_t right_bar = w - p.left - p.width;
    for (std::uint32_t r = 0; r < p.height;) {
        const std::uint32_t source = picture.source_row(r);
        std::uint32_t end = r + 1;
        while (end < p.height && picture.source_row(end) == source) ++end;
        std::uint32_t* row = target.data() + std::size_t{p.top + r} * w;
        clear_words(row, p.left);
        picture.expand(canvas.data() + std::size_t{source} * row_bytes, row + p.left, 0, p.width);
        clear_words(row + p.left + p.width, right_bar);
        for (std::uint32_t done = 1; r + done < end;) {
            const std::uint32_t more = std::min(done, end - r - done);
            store_words(row + std::size_t{done} * w, row, std::size_t{more} * w);
            done += more;
        }
        r = end;
    }
}

std::span<const PixelRect> ScreenPicture::update(std::span<const std::uint8_t> canvas,
                                                 std::span<std::uint32_t> target, std::uint32_t w,
                                                 std::uint32_t h) {
    changed_.clear();
    const std::size_t area = std::size_t{w} * h;
    const bool drawable = area != 0 && target.size() >= area && canvas.size() >= canvas_bytes;
    if (!drawable || !known_ || w != w_ || h != h_ || target.size() != size_) {
        present_scaled(canvas, target, w, h);
        known_ = drawable;
        w_ = w;
        h_ = h;
        size_ = target.size();
        if (drawable) shown_.assign(canvas.begin(), canvas.begin() + canvas_bytes);
        if (area != 0) changed_.push_back({0, 0, w, h});
        return changed_;
    }

    // Which cells changed; the remembered canvas takes the new rows.
    std::uint32_t changed[cell_rows] = {};
    bool any = false;
    for (std::size_t y = 0; y < canvas_height; ++y) {
        const std::uint8_t* now = canvas.data() + y * row_bytes;
        std::uint8_t* before = shown_.data() + y * row_bytes;
        if (std::memcmp(now, before, row_bytes) == 0) continue;
        for (std::uint32_t x = 0; x < cell_columns; ++x) {
            const std::size_t at = std::size_t{x} * cell_width * 4;
            if (std::memcmp(now + at, before + at, cell_width * 4) != 0)
                changed[y / cell_height] |= 1u << x;
        }
        std::memcpy(before, now, row_bytes);
        any = true;
    }
    if (!any) return changed_;

    thread_local std::vector<CellRect> cells;
    join_cells(changed, false, cells);
    if (cells.size() > max_rectangles) join_cells(changed, true, cells);

    const Picture picture(w, h);
    for (const CellRect& cell : cells) {
        const std::uint32_t c0 = picture.first_column_showing(cell.x0 * cell_width);
        const std::uint32_t c1 = picture.first_column_showing(cell.x1 * cell_width);
        const std::uint32_t r0 = picture.first_row_showing(cell.y0 * cell_height);
        const std::uint32_t r1 = picture.first_row_showing(cell.y1 * cell_height);
        if (c0 >= c1 || r0 >= r1) continue;  // a shrunken picture skips these pixels
        picture.draw(canvas.data(), target.data(), w, c0, c1, r0, r1);
        changed_.push_back({picture.place.left + c0, picture.place.top + r0, c1 - c0, r1 - r0});
    }
    return changed_;
}

}  // namespace zobra
