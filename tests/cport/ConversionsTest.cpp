// SPDX-License-Identifier: GPL-3.0-or-later
// Text forms of the line parameters, event masks, line errors and modem status.

#include "cport/CPort.h"

#include <gtest/gtest.h>

#include <string>

using namespace cport;
namespace dev = cport::device;

namespace {

TEST(TextToValue, BaudRateMatchesWholeTextIgnoringCaseAndFallsBackTo9600)
{
    EXPECT_EQ(TextToBaudRate("custom"), brCustom);
    EXPECT_EQ(TextToBaudRate("CUSTOM"), brCustom);
    EXPECT_EQ(TextToBaudRate("19200"), br19200);
    EXPECT_EQ(TextToBaudRate("110"), br110);
    EXPECT_EQ(TextToBaudRate("256000"), br256000);
    // No trimming and no numeric reading.
    EXPECT_EQ(TextToBaudRate(" 19200"), br9600);
    EXPECT_EQ(TextToBaudRate("19200 "), br9600);
    EXPECT_EQ(TextToBaudRate("019200"), br9600);
    EXPECT_EQ(TextToBaudRate("230400"), br9600);
    EXPECT_EQ(TextToBaudRate(""), br9600);
    EXPECT_EQ(TextToBaudRate("Custo"), br9600);
}

TEST(TextToValue, StopBitsReadsOnePointFiveOnlyWithADecimalPoint)
{
    EXPECT_EQ(TextToStopBits("1.5"), sbOne5StopBits);
    EXPECT_EQ(TextToStopBits("1,5"), sbOneStopBit);
    EXPECT_EQ(TextToStopBits("2"), sbTwoStopBits);
    EXPECT_EQ(TextToStopBits("1"), sbOneStopBit);
    EXPECT_EQ(TextToStopBits("3"), sbOneStopBit);
}

TEST(TextToValue, DataBitsFallsBackToEight)
{
    EXPECT_EQ(TextToDataBits("5"), dbFive);
    EXPECT_EQ(TextToDataBits("7"), dbSeven);
    EXPECT_EQ(TextToDataBits("9"), dbEight);
    EXPECT_EQ(TextToDataBits(""), dbEight);
}

TEST(TextToValue, ParityIgnoresCaseAndFallsBackToNone)
{
    EXPECT_EQ(TextToParity("odd"), prOdd);
    EXPECT_EQ(TextToParity("EVEN"), prEven);
    EXPECT_EQ(TextToParity("mArK"), prMark);
    EXPECT_EQ(TextToParity("Space"), prSpace);
    EXPECT_EQ(TextToParity("Spaces"), prNone);
}

TEST(TextToValue, FlowControlFallsBackToCustomNotNone)
{
    EXPECT_EQ(TextToFlowControl("hardware"), fcHardware);
    EXPECT_EQ(TextToFlowControl("SOFTWARE"), fcSoftware);
    EXPECT_EQ(TextToFlowControl("none"), fcNone);
    EXPECT_EQ(TextToFlowControl("RTS/CTS"), fcCustom);
    EXPECT_EQ(TextToFlowControl(""), fcCustom);
}

TEST(TextToValue, HandshakeModesIgnoreCaseAndFallBackToDisable)
{
    EXPECT_EQ(TextToRTS("toggle"), rtsToggle);
    EXPECT_EQ(TextToRTS("HANDSHAKE"), rtsHandshake);
    EXPECT_EQ(TextToDTR("Toggle"), dtrDisable);
    EXPECT_EQ(TextToDTR("enable"), dtrEnable);
    EXPECT_EQ(TextToRTS("On"), rtsDisable);
}

TEST(TextToValue, OnlyAsciiLettersAreFoldedToUpperCase)
{
    // Clearing bit 5 of every byte would also turn '.' (0x2E) into 0x0E and '1' into 0x11.
    EXPECT_EQ(TextToStopBits(std::string("1\x0E"
                                         "5")),
              sbOneStopBit);
    EXPECT_EQ(TextToDataBits(std::string("\x17")), dbEight);
    EXPECT_EQ(TextToStopBits(std::string("\x11.5")), sbOneStopBit);
}

TEST(ValueToText, EveryValueRoundTripsThroughItsText)
{
    for (int i = 0; i < static_cast<int>(kBaudRateTable.size()); ++i)
        EXPECT_EQ(TextToBaudRate(BaudRateToText(TBaudRate(i))), TBaudRate(i)) << i;
    for (int i = 0; i < static_cast<int>(kStopBitsTable.size()); ++i)
        EXPECT_EQ(TextToStopBits(StopBitsToText(TStopBits(i))), TStopBits(i)) << i;
    for (int i = 0; i < static_cast<int>(kDataBitsTable.size()); ++i)
        EXPECT_EQ(TextToDataBits(DataBitsToText(TDataBits(i))), TDataBits(i)) << i;
    for (int i = 0; i < static_cast<int>(kParityTable.size()); ++i)
        EXPECT_EQ(TextToParity(ParityToText(TParityBits(i))), TParityBits(i)) << i;
    for (int i = 0; i < static_cast<int>(kFlowControlTable.size()); ++i)
        EXPECT_EQ(TextToFlowControl(FlowControlToText(TFlowControl(i))), TFlowControl(i)) << i;
    for (int i = 0; i < static_cast<int>(kDTRTable.size()); ++i)
        EXPECT_EQ(TextToDTR(DTRToText(TDTRFlowControl(i))), TDTRFlowControl(i)) << i;
    for (int i = 0; i < static_cast<int>(kRTSTable.size()); ++i)
        EXPECT_EQ(TextToRTS(RTSToText(TRTSFlowControl(i))), TRTSFlowControl(i)) << i;
}

TEST(ValueToText, TextsAreTheSystemsOwn)
{
    EXPECT_EQ(BaudRateToText(brCustom), "Custom");
    EXPECT_EQ(BaudRateToText(br14400), "14400");
    EXPECT_EQ(BaudRateToText(br128000), "128000");
    EXPECT_EQ(StopBitsToText(sbOne5StopBits), "1.5");
    EXPECT_EQ(DataBitsToText(dbSix), "6");
    EXPECT_EQ(ParityToText(prMark), "Mark");
    EXPECT_EQ(FlowControlToText(fcSoftware), "Software");
    EXPECT_EQ(DTRToText(dtrHandshake), "Handshake");
    EXPECT_EQ(RTSToText(rtsToggle), "Toggle");
}

TEST(ValueToText, OutOfRangeValueGivesEmptyText)
{
    EXPECT_EQ(BaudRateToText(static_cast<TBaudRate>(16)), "");
    EXPECT_EQ(ParityToText(static_cast<TParityBits>(200)), "");
    EXPECT_EQ(FlowControlToText(static_cast<TFlowControl>(4)), "");
}

TEST(EventMask, EachEventMapsToItsOwnBit)
{
    const std::pair<TComEvent, dev::DWORD> expected[] = {
        {evRxChar, 0x0001}, {evTxEmpty, 0x0004}, {evRxFlag, 0x0002}, {evRing, 0x0100}, {evBreak, 0x0040},
        {evCTS, 0x0008},    {evDSR, 0x0010},     {evError, 0x0080},  {evRLSD, 0x0020}, {evRx80Full, 0x0400},
    };
    for (auto [event, bit] : expected) {
        EXPECT_EQ(EventsToMask({event}), bit) << int(event);
        EXPECT_EQ(MaskToEvents(bit), TComEvents({event})) << int(event);
    }
}

TEST(EventMask, AllTenEventsAndTheirInverse)
{
    const TComEvents all = TComEvents::FromBits(0x03FF);
    EXPECT_EQ(EventsToMask(all), 0x05FFu);
    EXPECT_EQ(MaskToEvents(0x05FF), all);
    EXPECT_EQ(EventsToMask({}), 0u);
}

TEST(EventMask, UnknownBitsAndPrinterErrorAreIgnored)
{
    EXPECT_TRUE(MaskToEvents(dev::EV_PERR).Empty());
    EXPECT_TRUE(MaskToEvents(0xFFFFF800u).Empty());
    EXPECT_EQ(MaskToEvents(dev::EV_PERR | dev::EV_CTS | 0x10000u), TComEvents({evCTS}));
}

TEST(EventMask, EveryCombinationRoundTrips)
{
    for (unsigned bits = 0; bits <= 0x03FF; ++bits) {
        const auto events = TComEvents::FromBits(static_cast<std::uint16_t>(bits));
        ASSERT_EQ(MaskToEvents(EventsToMask(events)), events) << bits;
    }
}

TEST(LineErrors, EachFlagGivesItsError)
{
    const std::pair<dev::DWORD, TComError> expected[] = {
        {dev::CE_FRAME, ceFrame}, {dev::CE_OVERRUN, ceOverrun}, {dev::CE_BREAK, ceBreak},   {dev::CE_IOE, ceIO},
        {dev::CE_MODE, ceMode},   {dev::CE_RXOVER, ceRxOver},   {dev::CE_TXFULL, ceTxFull},
    };
    for (auto [flag, error] : expected) EXPECT_EQ(LineErrorsToErrors(flag, false), TComErrors({error})) << flag;
    EXPECT_EQ(LineErrorsToErrors(0x851F, true).Bits(), 0xFF);
    EXPECT_TRUE(LineErrorsToErrors(0x7AE0, true).Empty()); // flags of no error
}

TEST(LineErrors, ParityErrorCountsOnlyWhileParityIsChecked)
{
    EXPECT_TRUE(LineErrorsToErrors(dev::CE_RXPARITY, false).Empty());
    EXPECT_EQ(LineErrorsToErrors(dev::CE_RXPARITY, true), TComErrors({ceRxParity}));
    EXPECT_EQ(LineErrorsToErrors(dev::CE_RXPARITY | dev::CE_FRAME, false), TComErrors({ceFrame}));
}

TEST(ModemStatus, LinesThatAreOnBecomeSignals)
{
    EXPECT_EQ(ModemStatusToSignals(dev::MS_CTS_ON | dev::MS_RLSD_ON), TModemSignals({msCTS, msRLSD}));
    EXPECT_EQ(ModemStatusToSignals(dev::MS_DSR_ON | dev::MS_RING_ON), TModemSignals({msDSR, msRing}));
    EXPECT_TRUE(ModemStatusToSignals(0x0F).Empty());
}

} // namespace
