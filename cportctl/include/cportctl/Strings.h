// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A list of texts that a control fills and searches: the item list of a combo box, or a plain list.
//
// Texts are 8-bit strings, kept byte for byte; a list shown on screen decodes them only for display.
//
// Threads: a list belongs to the thread of the control that owns it (the main thread).

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace cportctl {

// A list of texts a control fills (its items), behind which any storage may stand.
class TStrings {
public:
    virtual ~TStrings() = default;

    // The number of texts.
    virtual std::int32_t Count() const = 0;
    // The text at `index` (0 <= index < Count()).
    virtual std::string Strings(std::int32_t index) const = 0;
    // Replaces the whole content with `items`, in order.
    virtual void Assign(std::span<const std::string> items) = 0;

    void Clear() { Assign({}); } // empties the list
    // The position of the first text equal to `text` as a whole, ignoring the case of ASCII letters;
    // -1 when there is none.
    std::int32_t IndexOfText(std::string_view text) const;
};

// A list held in memory.
class TStringList final : public TStrings {
public:
    TStringList() = default;
    // A list holding `items`.
    explicit TStringList(std::vector<std::string> items) : m_items(std::move(items)) {}

    // The operations of TStrings on the vector.
    std::int32_t Count() const override { return static_cast<std::int32_t>(m_items.size()); }
    std::string Strings(std::int32_t index) const override { return m_items.at(static_cast<std::size_t>(index)); }
    void Assign(std::span<const std::string> items) override { m_items.assign(items.begin(), items.end()); }

    const std::vector<std::string>& Items() const { return m_items; } // the texts, in order

private:
    std::vector<std::string> m_items;
};

// Whether `a` and `b` are equal when the case of ASCII letters is ignored (other bytes compare exactly).
bool SameTextAscii(std::string_view a, std::string_view b);

} // namespace cportctl
