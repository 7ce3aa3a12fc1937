#include "cport/Enumeration.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
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

// The user's locale as the environment names it; the classic one when the environment names none
// that the system knows.
std::locale UserLocale()
{
    try {
        return std::locale("");
    } catch (const std::runtime_error&) {
        return std::locale::classic();
    }
}

// Decodes the component's 8-bit text (Windows-1250) into wide characters. A byte that the code page
// leaves undefined stands for itself, so no two different names decode alike.
class Cp1250Decoder {
public:
    Cp1250Decoder() : m_cd(iconv_open("WCHAR_T", "WINDOWS-1250")) {}
    ~Cp1250Decoder()
    {
        if (m_cd != kNoConverter) iconv_close(m_cd);
    }
    Cp1250Decoder(const Cp1250Decoder&) = delete;
    Cp1250Decoder& operator=(const Cp1250Decoder&) = delete;

    std::wstring Decode(const std::string& text) const
    {
        std::wstring wide(text.size(), L'\0');
        if (m_cd == kNoConverter) {
            std::transform(text.begin(), text.end(), wide.begin(),
                           [](char c) { return static_cast<wchar_t>(static_cast<unsigned char>(c)); });
            return wide;
        }
        iconv(m_cd, nullptr, nullptr, nullptr, nullptr);
        char* in = const_cast<char*>(text.data()); // iconv's signature; the input is not written
        std::size_t inLeft = text.size();
        char* out = reinterpret_cast<char*>(wide.data());
        std::size_t outLeft = wide.size() * sizeof(wchar_t); // one wide character per byte suffices
        while (inLeft > 0) {
            if (iconv(m_cd, &in, &inLeft, &out, &outLeft) != static_cast<std::size_t>(-1)) break;
            if (errno != EILSEQ && errno != EINVAL) break;
            wchar_t self = static_cast<wchar_t>(static_cast<unsigned char>(*in));
            std::memcpy(out, &self, sizeof self);
            out += sizeof self;
            outLeft -= sizeof self;
            ++in;
            --inLeft;
        }
        wide.resize(wide.size() - outLeft / sizeof(wchar_t));
        return wide;
    }

private:
    static inline const iconv_t kNoConverter = reinterpret_cast<iconv_t>(-1);
    iconv_t m_cd;
};

// The key by which a name sorts: folded to lower case, then transformed by the locale's collation,
// so that comparing keys compares the names as the locale orders text, letter case aside.
class CaseInsensitiveCollation {
public:
    CaseInsensitiveCollation()
        : m_locale(UserLocale()), m_ctype(std::use_facet<std::ctype<wchar_t>>(m_locale)),
          m_collate(std::use_facet<std::collate<wchar_t>>(m_locale))
    {
    }

    std::wstring Key(const std::string& text) const
    {
        std::wstring wide = m_decoder.Decode(text);
        m_ctype.tolower(wide.data(), wide.data() + wide.size());
        return m_collate.transform(wide.data(), wide.data() + wide.size());
    }

private:
    std::locale m_locale;
    const std::ctype<wchar_t>& m_ctype;
    const std::collate<wchar_t>& m_collate;
    Cp1250Decoder m_decoder;
};

void SortCaseInsensitive(std::vector<std::string>& names)
{
    const CaseInsensitiveCollation collation;
    std::vector<std::wstring> keys;
    keys.reserve(names.size());
    for (const std::string& name : names) keys.push_back(collation.Key(name));

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
    auto it = std::find_if(table.Ports.begin(), table.Ports.end(), [&](const VirtualPort& p) { return p.Name == name; });
    if (it != table.Ports.end())
        ++it->Publications;
    else
        table.Ports.push_back({name, 1});
}

bool WithdrawVirtualPort(const std::string& name)
{
    VirtualPortTable& table = VirtualPortsOfProgram();
    const std::scoped_lock lock(table.Mutex);
    auto it = std::find_if(table.Ports.begin(), table.Ports.end(), [&](const VirtualPort& p) { return p.Name == name; });
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
