// SPDX-License-Identifier: GPL-3.0-or-later
#include "cport/Enumeration.h"

#include <iconv.h>

#include <algorithm>
#include <array>
#include <locale>
#include <mutex>
#include <numeric>
#include <stdexcept>

namespace cport {

long TValueListKey::EnumValue(std::uint32_t index, char* name, std::uint32_t& nameSize, std::uint32_t& type,
                              std::uint8_t* data, std::uint32_t& dataSize)
{
    if (index >= m_values.size()) return kErrorNoMoreItems;
    return CopyRegistryValue(m_values[index], name, nameSize, type, data, dataSize);
}

namespace {

// ---- Case-insensitive order of the user's locale ----------------------------------------------------

// The user's locale as the environment names it when first asked; the classic one when the
// environment names none that the system knows.
const std::locale& UserLocale()
{
    static const std::locale locale = [] {
        try {
            return std::locale("");
        } catch (const std::runtime_error&) {
            return std::locale::classic();
        }
    }();
    return locale;
}

// The wide character of each byte of the component's 8-bit text (Windows-1250), built once. A byte
// that the code page leaves undefined stands for itself, so no two different names decode alike.
const std::array<wchar_t, 256>& Cp1250Characters()
{
    static const std::array<wchar_t, 256> table = [] {
        std::array<wchar_t, 256> characters{};
        for (std::size_t byte = 0; byte < characters.size(); ++byte) characters[byte] = static_cast<wchar_t>(byte);
        const iconv_t cd = iconv_open("WCHAR_T", "WINDOWS-1250");
        if (cd == reinterpret_cast<iconv_t>(-1))
            return characters; // NOLINT(performance-no-int-to-ptr): iconv_open's failure value
        for (std::size_t byte = 0x80; byte < characters.size(); ++byte) {
            char in = static_cast<char>(byte);
            wchar_t out = 0;
            char* inPtr = &in;
            char* outPtr = reinterpret_cast<char*>(&out);
            std::size_t inLeft = 1;
            std::size_t outLeft = sizeof out;
            iconv(cd, nullptr, nullptr, nullptr, nullptr);
            if (iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) != static_cast<std::size_t>(-1) && outLeft == 0)
                characters[byte] = out;
        }
        iconv_close(cd);
        return characters;
    }();
    return table;
}

// The key by which a name sorts: decoded, folded to lower case, then transformed by the locale's
// collation, so that comparing keys compares the names as the locale orders text, letter case aside.
std::wstring CollationKey(const std::string& text)
{
    const std::locale& locale = UserLocale();
    const std::array<wchar_t, 256>& characters = Cp1250Characters();
    std::wstring wide(text.size(), L'\0');
    std::transform(text.begin(), text.end(), wide.begin(),
                   [&](char c) { return characters[static_cast<unsigned char>(c)]; });
    std::use_facet<std::ctype<wchar_t>>(locale).tolower(wide.data(), wide.data() + wide.size());
    return std::use_facet<std::collate<wchar_t>>(locale).transform(wide.data(), wide.data() + wide.size());
}

void SortCaseInsensitive(std::vector<std::string>& names)
{
    std::vector<std::wstring> keys;
    keys.reserve(names.size());
    for (const std::string& name : names) keys.push_back(CollationKey(name));

    std::vector<std::size_t> order(names.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    // Stable: names equal but for letter case keep the order in which they were published.
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return keys[a] < keys[b]; });

    std::vector<std::string> sorted;
    sorted.reserve(names.size());
    for (std::size_t i : order) sorted.push_back(std::move(names[i]));
    names = std::move(sorted);
}

// ---- Virtual ports published by this program ---------------------------------------------------------

struct VirtualPort {
    std::string Name;
    int Publications;
};

struct VirtualPortTable {
    std::mutex Mutex;
    std::vector<VirtualPort> Ports; // in order of first publication
};

VirtualPortTable& VirtualPortsOfProgram()
{
    static VirtualPortTable table;
    return table;
}

} // namespace

void ListSerialPorts(std::vector<std::string>& List, TSerialDeviceSource& Source)
{
    // The key is closed when `key` goes, also when something below throws.
    const std::unique_ptr<TSerialDeviceKey> key = Source.OpenKey();
    if (!key) return;

    constexpr std::uint32_t kBufferSize = 256;
    std::vector<std::string> names; // not sorted while filled, so duplicates stay
    for (std::uint32_t index = 0;; ++index) {
        char valueName[kBufferSize];
        std::uint8_t data[kBufferSize];
        std::uint32_t nameSize = kBufferSize;
        std::uint32_t dataSize = kBufferSize;
        std::uint32_t type = kRegNone;
        // Any result but success ends the listing: no more values, a value too long, any error.
        if (key->EnumValue(index, valueName, nameSize, type, data, dataSize) != kErrorSuccess) break;
        // The data less its last byte, the terminating NUL of a text; the type is not examined.
        const std::uint32_t length = std::min(dataSize, kBufferSize);
        names.emplace_back(reinterpret_cast<const char*>(data), length == 0 ? 0 : length - 1);
    }

    SortCaseInsensitive(names);
    List = std::move(names);
}

void ListSerialPorts(std::vector<std::string>& List)
{
    const std::unique_ptr<TSerialDeviceSource> source = CreateSystemSerialDeviceSource();
    ListSerialPorts(List, *source);
}

void PublishVirtualPort(const std::string& name)
{
    if (name.empty() || name.find('\0') != std::string::npos || name.size() > kMaxListedPortName)
        throw std::invalid_argument("A virtual port needs a listable name of 1 to 255 bytes without NUL");
    VirtualPortTable& table = VirtualPortsOfProgram();
    const std::scoped_lock lock(table.Mutex);
    auto it =
        std::find_if(table.Ports.begin(), table.Ports.end(), [&](const VirtualPort& p) { return p.Name == name; });
    if (it != table.Ports.end()) ++it->Publications;
    else table.Ports.push_back({name, 1});
}

bool WithdrawVirtualPort(const std::string& name)
{
    VirtualPortTable& table = VirtualPortsOfProgram();
    const std::scoped_lock lock(table.Mutex);
    auto it =
        std::find_if(table.Ports.begin(), table.Ports.end(), [&](const VirtualPort& p) { return p.Name == name; });
    if (it == table.Ports.end()) return false;
    if (--it->Publications == 0) table.Ports.erase(it);
    return true;
}

std::vector<std::string> VirtualPorts()
{
    VirtualPortTable& table = VirtualPortsOfProgram();
    const std::scoped_lock lock(table.Mutex);
    std::vector<std::string> names;
    names.reserve(table.Ports.size());
    for (const VirtualPort& port : table.Ports) names.push_back(port.Name);
    return names;
}

} // namespace cport
