// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A main window with fixed regional settings and a clock the test sets.

#include "varmio/MainWindow.h"
#include "varmio/Regional.h"
#include "support/DateTime.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <ctime>
#include <deque>
#include <initializer_list>
#include <memory>

#include <QApplication>
#include <QKeyEvent>
#include <QString>
#include <QWidget>

using varmio::test::LocalTime;

// Types `text` into `widget` as a keyboard would, one key per character ("\n" is the Return key);
// unlike QTest::keyClicks this keeps characters beyond Latin-1.
inline void Type(QWidget* widget, const QString& text)
{
    for (const QChar ch : text) {
        const bool newLine = ch == QLatin1Char('\n');
        const auto key = newLine ? Qt::Key_Return : Qt::Key_unknown;
        const QString keyText = newLine ? QStringLiteral("\r") : QString(ch);
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, keyText);
        QApplication::sendEvent(widget, &press);
        QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, keyText);
        QApplication::sendEvent(widget, &release);
    }
}

class FormTest : public ::testing::Test {
protected:
    static varmio::Regional CzechStyle()
    {
        varmio::Regional regional;
        regional.DecimalSeparator = ",";
        regional.ShortDateFormat = "%d.%m.%Y";
        regional.LongTimeFormat = "%H:%M:%S";
        return regional;
    }

    void SetUp() override
    {
        m_form = std::make_unique<varmio::TForm1>(CzechStyle(), [this] { return NextReading(); });
    }

    // The clock's next reading: the queued ones in order, then the last one again.
    std::tm NextReading()
    {
        if (m_clock.size() > 1) {
            const std::tm t = m_clock.front();
            m_clock.pop_front();
            return t;
        }
        return m_clock.front();
    }

    void Feed(std::initializer_list<std::uint8_t> bytes)
    {
        for (std::uint8_t b : bytes) m_form->Core().ProcessFrameByte(b);
    }

    template <class T>
    T* Control(const char* name) const
    {
        T* control = m_form->findChild<T*>(QString::fromUtf8(name));
        EXPECT_NE(control, nullptr) << name;
        return control;
    }

    std::deque<std::tm> m_clock{LocalTime(2026, 12, 7, 13, 5, 20)};
    std::unique_ptr<varmio::TForm1> m_form;
};
