// SPDX-License-Identifier: GPL-3.0-or-later
// The OpenTherm data-ID table: every ID of protocol 2.2 and the later ones a monitor commonly meets,
// written once as data. Where sources disagree the table follows the 2.2-era overview, except where
// a note says otherwise.
#include "varmio/OpenTherm.h"

namespace varmio {
namespace {

using VT = ValueType;

// ---- Flag bytes ----

constexpr FlagBits kMasterStatus{{
    {"ch_enable", "Topení povoleno"},
    {"dhw_enable", "TUV povoleno"},
    {"cooling_enable", "Chlazení povoleno"},
    {"otc_active", "Venkovní kompenzace"},
    {"ch2_enable", "Topení 2. okruh povoleno"},
    {"summer_mode", "Letní režim"},
    {"dhw_blocked", "TUV blokována"},
    {},
}};

constexpr FlagBits kSlaveStatus{{
    {"fault", "Chyba"},
    {"ch_active", "Topení aktivní"},
    {"dhw_active", "TUV aktivní"},
    {"flame_on", "Plamen aktivní"},
    {"cooling_active", "Chlazení aktivní"},
    {"ch2_active", "Topení 2. okruh aktivní"},
    {"diagnostic", "Diagnostika / servis"},
    {"electricity_production", "Výroba elektřiny"},
}};

constexpr FlagBits kMasterConfig{{
    {"smart_power", "Smart Power"},
}};

constexpr FlagBits kSlaveConfig{{
    {"dhw_present", "TUV přítomna"},
    {"on_off_control", "Řízení zap/vyp (ne modulace)"},
    {"cooling_supported", "Chlazení podporováno"},
    {"dhw_storage_tank", "Zásobník TUV (ne průtokový ohřev)"},
    {"low_off_pump_control_not_allowed", "Vypínání a řízení čerpadla termostatem nepovoleno"},
    {"ch2_present", "Topení 2. okruh přítomen"},
    {"water_filling_not_available", "Dálkové dopouštění vody nedostupné"},
    {"heat_cool_by_slave", "Přepínání topení/chlazení řídí kotel"},
}};

constexpr FlagBits kFaultFlags{{
    {"service_required", "Požadován servis"},
    {"remote_reset", "Dálkový reset blokování možný"},
    {"low_water_pressure", "Nízký tlak vody"},
    {"gas_flame_fault", "Porucha plynu / plamene"},
    {"air_pressure_fault", "Porucha tlaku vzduchu"},
    {"water_over_temperature", "Přehřátí vody"},
    {},
    {},
}};

constexpr FlagBits kRemoteParams{{
    {"dhw_setpoint", "Teplota TUV (56)"},
    {"max_ch_setpoint", "Max. teplota topení (57)"},
}};

constexpr FlagBits kVentMasterStatus{{
    {"ventilation_enable", "Větrání povoleno"},
    {"bypass_open", "Bypass otevřen"},
    {"bypass_auto", "Bypass automaticky"},
    {"free_ventilation", "Volné větrání"},
}};

constexpr FlagBits kVentSlaveStatus{{
    {"fault", "Chyba"},
    {"ventilation_active", "Větrání aktivní"},
    {"bypass_open", "Bypass otevřen"},
    {"bypass_auto", "Bypass automaticky"},
    {"free_ventilation_active", "Volné větrání aktivní"},
    {},
    {"diagnostic", "Diagnostika"},
    {},
}};

constexpr FlagBits kVentFaults{{
    {"service_required", "Požadován servis"},
    {"exhaust_fan_fault", "Porucha odtahového ventilátoru"},
    {"inlet_fan_fault", "Porucha přívodního ventilátoru"},
    {"frost_protection", "Protimrazová ochrana"},
}};

constexpr FlagBits kVentConfig{{
    {"heat_recovery", "Rekuperace (ne centrální odtah)"},
    {"bypass_present", "Bypass přítomen"},
    {"variable_speed", "Plynulé otáčky (ne 3 stupně)"},
}};

constexpr FlagBits kVentRemoteParams{{
    {"nominal_ventilation", "Jmenovité větrání (87)"},
}};

// The detail table of protocol 4.2 puts these flags into the low byte; the high byte is reserved.
constexpr FlagBits kOverrideFunction{{
    {"manual_change_priority", "Ruční změna ruší dálkovou žádanou teplotu"},
    {"program_change_priority", "Změna programu ruší dálkovou žádanou teplotu"},
}};

constexpr FlagBits kSolarConfig{{
    {"dhw_parallel", "Paralelní systém TUV (ne předehřev)"},
}};

// ---- Field shorthands ----

constexpr FieldInfo Whole(VT type, std::string_view unit = {}) { return {type, "value", {}, unit, nullptr}; }
constexpr FieldInfo Byte(VT type, std::string_view key, std::string_view caption, std::string_view unit = {})
{
    return {type, key, caption, unit, nullptr};
}
constexpr FieldInfo Flags(std::string_view key, std::string_view caption, const FlagBits* bits)
{
    return {VT::Flag8, key, caption, {}, bits};
}
constexpr FieldInfo kNone{};

constexpr Access R = Access::Read;
constexpr Access W = Access::Write;
constexpr Access RW = Access::ReadWrite;

// clang-format off
constexpr DataIdInfo kTable[] = {
    {0, "Status", "Stav termostatu a kotle", R, "≤1.2",
        Flags("master", "Termostat", &kMasterStatus), Flags("slave", "Kotel", &kSlaveStatus)},
    {1, "Tset", "Žádaná teplota vody topení", W, "≤1.2", Whole(VT::F88, "°C"), kNone},
    {2, "M-Config", "Konfigurace termostatu", W, "≤1.2",
        Flags("flags", "Konfigurace", &kMasterConfig), Byte(VT::U8, "member_id", "ID výrobce")},
    {3, "S-Config", "Konfigurace kotle", R, "≤1.2",
        Flags("flags", "Konfigurace", &kSlaveConfig), Byte(VT::U8, "member_id", "ID výrobce")},
    {4, "Remote request", "Dálkový příkaz", W, "≤1.2",
        Byte(VT::U8, "request", "Příkaz"), Byte(VT::U8, "response", "Odpověď")},
    {5, "ASF-flags", "Poruchy kotle", R, "≤1.2",
        Flags("flags", "Poruchy", &kFaultFlags), Byte(VT::U8, "oem_fault_code", "OEM kód poruchy")},
    {6, "RBP-flags", "Dálkově nastavitelné parametry", R, "≤1.2",
        Flags("transfer_enable", "Přenos povolen", &kRemoteParams),
        Flags("read_write", "Zápis povolen", &kRemoteParams)},
    {7, "Cooling control", "Řídicí signál chlazení", W, "1.3", Whole(VT::F88, "%"), kNone},
    {8, "TsetCH2", "Žádaná teplota vody 2. okruhu", W, "2.0", Whole(VT::F88, "°C"), kNone},
    {9, "TrOverride", "Dálkové přepsání žádané teploty místnosti", R, "2.1", Whole(VT::F88, "°C"), kNone},
    {10, "TSP count", "Počet přenosných parametrů kotle", R, "≤1.2",
        Byte(VT::U8, "count", "Počet"), kNone},
    {11, "TSP entry", "Přenosný parametr kotle", RW, "≤1.2",
        Byte(VT::U8, "index", "Index"), Byte(VT::U8, "value", "Hodnota")},
    {12, "FHB size", "Velikost historie poruch", R, "≤1.2", Byte(VT::U8, "size", "Velikost"), kNone},
    {13, "FHB entry", "Záznam historie poruch", R, "≤1.2",
        Byte(VT::U8, "index", "Index"), Byte(VT::U8, "value", "Hodnota")},
    {14, "Max rel-mod setting", "Max. povolená relativní modulace", W, "1.3", Whole(VT::F88, "%"), kNone},
    {15, "Capacity / min-mod", "Max. výkon a min. modulace kotle", R, "1.3",
        Byte(VT::U8, "max_capacity", "Max. výkon kotle", "kW"), Byte(VT::U8, "min_modulation", "Min. modulace", "%")},
    {16, "TrSet", "Žádaná teplota místnosti", W, "≤1.2", Whole(VT::F88, "°C"), kNone},
    {17, "Rel-mod level", "Relativní modulace", R, "≤1.2", Whole(VT::F88, "%"), kNone},
    {18, "CH pressure", "Tlak vody v topení", R, "≤1.2", Whole(VT::F88, "bar"), kNone},
    {19, "DHW flow rate", "Průtok TUV", R, "≤1.2", Whole(VT::F88, "l/min"), kNone},
    {20, "Day-Time", "Den v týdnu a čas", RW, "1.3",
        Byte(VT::DayHour, "day_hour", "Den a hodina"), Byte(VT::U8, "minute", "Minuta")},
    {21, "Date", "Datum", RW, "1.3", Byte(VT::U8, "month", "Měsíc"), Byte(VT::U8, "day", "Den")},
    {22, "Year", "Rok", RW, "1.3", Whole(VT::U16), kNone},
    {23, "TrSetCH2", "Žádaná teplota místnosti 2. okruhu", W, "2.1", Whole(VT::F88, "°C"), kNone},
    {24, "Tr", "Teplota místnosti", W, "≤1.2", Whole(VT::F88, "°C"), kNone},
    {25, "Tboiler", "Teplota vody na výstupu kotle", R, "≤1.2", Whole(VT::F88, "°C"), kNone},
    {26, "Tdhw", "Teplota TUV", R, "≤1.2", Whole(VT::F88, "°C"), kNone},
    {27, "Toutside", "Venkovní teplota", R, "≤1.2", Whole(VT::F88, "°C"), kNone},
    {28, "Tret", "Teplota vratné vody", R, "≤1.2", Whole(VT::F88, "°C"), kNone},
    {29, "Tstorage", "Teplota solárního zásobníku", R, "1.3", Whole(VT::F88, "°C"), kNone},
    // Protocol 4.2's detail table says s16; the 2.2-era list and most decoders read f8.8.
    {30, "Tcollector", "Teplota solárního kolektoru", R, "1.3", Whole(VT::F88, "°C"), kNone},
    {31, "TflowCH2", "Teplota vody 2. okruhu", R, "2.0", Whole(VT::F88, "°C"), kNone},
    {32, "Tdhw2", "Teplota TUV 2", R, "2.0", Whole(VT::F88, "°C"), kNone},
    {33, "Texhaust", "Teplota spalin", R, "2.0", Whole(VT::S16, "°C"), kNone},
    {34, "Thx", "Teplota výměníku kotle", R, "2.3", Whole(VT::F88, "°C"), kNone},
    {35, "Fan speed", "Otáčky ventilátoru", R, "2.3",
        Byte(VT::U8, "setpoint", "Požadované", "Hz"), Byte(VT::U8, "actual", "Skutečné", "Hz")},
    {36, "Flame current", "Ionizační proud plamene", R, "3.0", Whole(VT::F88, "µA"), kNone},
    {37, "TrCH2", "Teplota místnosti 2. okruhu", W, "3.0", Whole(VT::F88, "°C"), kNone},
    {38, "RH", "Relativní vlhkost", RW, "4.0", Whole(VT::F88, "%"), kNone},
    {39, "TrOverride2", "Dálkové přepsání žádané teploty místnosti 2", R, "4.1", Whole(VT::F88, "°C"), kNone},
    {48, "TdhwSet bounds", "Meze žádané teploty TUV", R, "≤1.2",
        Byte(VT::S8, "upper", "Horní mez", "°C"), Byte(VT::S8, "lower", "Dolní mez", "°C")},
    {49, "MaxTSet bounds", "Meze max. teploty vody topení", R, "≤1.2",
        Byte(VT::S8, "upper", "Horní mez", "°C"), Byte(VT::S8, "lower", "Dolní mez", "°C")},
    {50, "Hcratio bounds", "Meze sklonu topné křivky", R, "≤1.2",
        Byte(VT::S8, "upper", "Horní mez"), Byte(VT::S8, "lower", "Dolní mez")},
    {56, "TdhwSet", "Žádaná teplota TUV", RW, "≤1.2", Whole(VT::F88, "°C"), kNone},
    {57, "MaxTSet", "Max. teplota vody topení", RW, "≤1.2", Whole(VT::F88, "°C"), kNone},
    {58, "Hcratio", "Sklon topné křivky", RW, "≤1.2", Whole(VT::F88), kNone},
    {70, "Status V/H", "Stav větrání / rekuperace", R, "2.3",
        Flags("master", "Termostat", &kVentMasterStatus), Flags("slave", "Jednotka", &kVentSlaveStatus)},
    {71, "Vset", "Žádané relativní větrání", W, "2.3", kNone, Byte(VT::U8, "setpoint", "Žádané", "%")},
    {72, "ASF V/H", "Poruchy větrání / rekuperace", R, "2.3",
        Flags("flags", "Poruchy", &kVentFaults), Byte(VT::U8, "oem_fault_code", "OEM kód poruchy")},
    {73, "Diag V/H", "OEM diagnostický kód větrání", R, "2.3", Whole(VT::U16), kNone},
    {74, "S-Config V/H", "Konfigurace větrání / rekuperace", R, "2.3",
        Flags("flags", "Konfigurace", &kVentConfig), Byte(VT::U8, "member_id", "ID výrobce")},
    {75, "OT version V/H", "Verze protokolu jednotky větrání", R, "2.3", Whole(VT::F88), kNone},
    {76, "Version V/H", "Typ a verze jednotky větrání", R, "2.3",
        Byte(VT::U8, "product_type", "Typ"), Byte(VT::U8, "product_version", "Verze")},
    {77, "Rel vent", "Relativní větrání", R, "2.3", kNone, Byte(VT::U8, "level", "Větrání", "%")},
    {78, "RH exhaust", "Vlhkost odváděného vzduchu", RW, "2.3", kNone, Byte(VT::U8, "humidity", "Vlhkost", "%")},
    {79, "CO2 exhaust", "CO2 v odváděném vzduchu", RW, "2.3", Whole(VT::U16, "ppm"), kNone},
    {80, "Tsi", "Teplota přiváděného vzduchu na vstupu", R, "2.3", Whole(VT::F88, "°C"), kNone},
    {81, "Tso", "Teplota přiváděného vzduchu na výstupu", R, "2.3", Whole(VT::F88, "°C"), kNone},
    {82, "Tei", "Teplota odváděného vzduchu na vstupu", R, "2.3", Whole(VT::F88, "°C"), kNone},
    {83, "Teo", "Teplota odváděného vzduchu na výstupu", R, "2.3", Whole(VT::F88, "°C"), kNone},
    {84, "RPM exhaust", "Otáčky odtahového ventilátoru", R, "2.3", Whole(VT::U16, "rpm"), kNone},
    {85, "RPM supply", "Otáčky přívodního ventilátoru", R, "2.3", Whole(VT::U16, "rpm"), kNone},
    {86, "RBP V/H", "Dálkově nastavitelné parametry větrání", R, "2.3",
        Flags("transfer_enable", "Přenos povolen", &kVentRemoteParams),
        Flags("read_write", "Zápis povolen", &kVentRemoteParams)},
    {87, "Nominal vent", "Jmenovité větrání", RW, "2.3", Byte(VT::U8, "nominal", "Jmenovité", "%"), kNone},
    {88, "TSP count V/H", "Počet přenosných parametrů větrání", R, "2.3", Byte(VT::U8, "count", "Počet"), kNone},
    {89, "TSP entry V/H", "Přenosný parametr větrání", RW, "2.3",
        Byte(VT::U8, "index", "Index"), Byte(VT::U8, "value", "Hodnota")},
    {90, "FHB size V/H", "Velikost historie poruch větrání", R, "2.3", Byte(VT::U8, "size", "Velikost"), kNone},
    {91, "FHB entry V/H", "Záznam historie poruch větrání", R, "2.3",
        Byte(VT::U8, "index", "Index"), Byte(VT::U8, "value", "Hodnota")},
    {93, "Brand", "Značka (znak)", R, "4.1", Byte(VT::U8, "index", "Index"), Byte(VT::U8, "char", "Znak")},
    {94, "Brand version", "Verze značky (znak)", R, "4.1",
        Byte(VT::U8, "index", "Index"), Byte(VT::U8, "char", "Znak")},
    {95, "Brand serial", "Sériové číslo (znak)", R, "4.1",
        Byte(VT::U8, "index", "Index"), Byte(VT::U8, "char", "Znak")},
    {96, "Cooling hours", "Hodiny v režimu chlazení", RW, "4.1", Whole(VT::U16, "h"), kNone},
    {97, "Power cycles", "Počet zapnutí kotle", RW, "4.1", Whole(VT::U16), kNone},
    // Bit fields of their own (sensor type and index, battery and signal; heating and DHW modes);
    // shown as their two bytes.
    {98, "RF sensor", "Bezdrátové čidlo", W, "3.0",
        Byte(VT::U8, "sensor", "Čidlo"), Byte(VT::U8, "battery_signal", "Baterie a signál")},
    {99, "Op-mode override", "Přepsání provozního režimu", RW, "3.0",
        Byte(VT::U8, "high", "Horní bajt"), Byte(VT::U8, "low", "Dolní bajt")},
    {100, "Override function", "Chování při dálkovém přepsání", R, "2.2",
        Flags("reserved", "Rezerva", nullptr), Flags("flags", "Funkce", &kOverrideFunction)},
    {101, "Status SS", "Stav solárního zásobníku", R, "2.3",
        Byte(VT::U8, "master", "Termostat"), Byte(VT::U8, "slave", "Zásobník")},
    {102, "ASF SS", "Poruchy solárního zásobníku", R, "2.3",
        Flags("flags", "Poruchy", nullptr), Byte(VT::U8, "oem_fault_code", "OEM kód poruchy")},
    {103, "S-Config SS", "Konfigurace solárního zásobníku", R, "2.3",
        Flags("flags", "Konfigurace", &kSolarConfig), Byte(VT::U8, "member_id", "ID výrobce")},
    {104, "Version SS", "Typ a verze solárního zásobníku", R, "2.3",
        Byte(VT::U8, "product_type", "Typ"), Byte(VT::U8, "product_version", "Verze")},
    {105, "TSP count SS", "Počet přenosných parametrů zásobníku", R, "2.3", Byte(VT::U8, "count", "Počet"), kNone},
    {106, "TSP entry SS", "Přenosný parametr zásobníku", RW, "2.3",
        Byte(VT::U8, "index", "Index"), Byte(VT::U8, "value", "Hodnota")},
    {107, "FHB size SS", "Velikost historie poruch zásobníku", R, "2.3", Byte(VT::U8, "size", "Velikost"), kNone},
    {108, "FHB entry SS", "Záznam historie poruch zásobníku", R, "2.3",
        Byte(VT::U8, "index", "Index"), Byte(VT::U8, "value", "Hodnota")},
    {109, "Elec starts", "Starty výroby elektřiny", RW, "4.0", Whole(VT::U16), kNone},
    {110, "Elec hours", "Hodiny výroby elektřiny", RW, "4.0", Whole(VT::U16, "h"), kNone},
    {111, "Elec power", "Okamžitá výroba elektřiny", R, "4.0", Whole(VT::U16, "W"), kNone},
    {112, "Elec energy", "Celková výroba elektřiny", RW, "4.0", Whole(VT::U16, "kWh"), kNone},
    {113, "Failed starts", "Neúspěšné starty hořáku", RW, "2.3", Whole(VT::U16), kNone},
    {114, "Low flame", "Nízký signál plamene", RW, "2.3", Whole(VT::U16), kNone},
    {115, "OEM diag", "OEM diagnostický kód", R, "2.2", Whole(VT::U16), kNone},
    {116, "Burner starts", "Starty hořáku", RW, "2.2", Whole(VT::U16), kNone},
    {117, "CH pump starts", "Starty čerpadla topení", RW, "2.2", Whole(VT::U16), kNone},
    {118, "DHW pump starts", "Starty čerpadla / ventilu TUV", RW, "2.2", Whole(VT::U16), kNone},
    {119, "DHW burner starts", "Starty hořáku pro TUV", RW, "2.2", Whole(VT::U16), kNone},
    {120, "Burner hours", "Hodiny hořáku", RW, "2.1", Whole(VT::U16, "h"), kNone},
    {121, "CH pump hours", "Hodiny čerpadla topení", RW, "2.1", Whole(VT::U16, "h"), kNone},
    {122, "DHW pump hours", "Hodiny čerpadla / ventilu TUV", RW, "2.1", Whole(VT::U16, "h"), kNone},
    {123, "DHW burner hours", "Hodiny hořáku pro TUV", RW, "2.2", Whole(VT::U16, "h"), kNone},
    {124, "OT version M", "Verze protokolu termostatu", W, "2.1", Whole(VT::F88), kNone},
    {125, "OT version S", "Verze protokolu kotle", R, "2.1", Whole(VT::F88), kNone},
    {126, "Master version", "Typ a verze termostatu", W, "1.3",
        Byte(VT::U8, "product_type", "Typ"), Byte(VT::U8, "product_version", "Verze")},
    {127, "Slave version", "Typ a verze kotle", R, "1.3",
        Byte(VT::U8, "product_type", "Typ"), Byte(VT::U8, "product_version", "Verze")},
};
// clang-format on

// One row per ID, in ID order, so that the index below and the listing agree.
constexpr bool InIdOrder()
{
    for (std::size_t i = 1; i < std::size(kTable); ++i)
        if (kTable[i - 1].Id >= kTable[i].Id) return false;
    return true;
}
static_assert(InIdOrder());

// Each ID's row, or null; built once from the table.
struct Index {
    std::array<const DataIdInfo*, 256> Rows{};
    constexpr Index()
    {
        for (const DataIdInfo& info : kTable) Rows[info.Id] = &info;
    }
};
constexpr Index kIndex;

} // namespace

std::span<const DataIdInfo> DataIdTable() { return kTable; }

const DataIdInfo* FindDataId(std::uint8_t id) { return kIndex.Rows[id]; }

} // namespace varmio
