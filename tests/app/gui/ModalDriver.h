// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Answers the modal dialogs that a handler opens while it runs (a file dialog, an error box), one
// step per dialog, in the order they appear. The steps run inside the dialogs' own event loops.

#include <gtest/gtest.h>

#include <functional>
#include <utility>
#include <vector>

#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>

class ModalDriver {
public:
    using Step = std::function<void(QWidget* modal)>;

    explicit ModalDriver(std::vector<Step> steps) : m_steps(std::move(steps))
    {
        m_timer.setInterval(5);
        QObject::connect(&m_timer, &QTimer::timeout, &m_timer, [this] { Poll(); });
        m_timer.start();
    }

    // How many steps have run: the number of dialogs that appeared.
    int Answered() const { return static_cast<int>(m_next); }

    // A file dialog: the path typed into its name box (as a user does; selectFile() mangles an
    // absolute path whose folder does not exist), then its Save button.
    static Step ChooseFile(const QString& path)
    {
        return [path](QWidget* modal) {
            auto* name = modal->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
            if (qobject_cast<QFileDialog*>(modal) == nullptr || name == nullptr) {
                ADD_FAILURE() << "expected the file dialog, got " << modal->metaObject()->className();
                qobject_cast<QDialog*>(modal)->reject();
                return;
            }
            name->setText(path);
            qobject_cast<QDialog*>(modal)->accept();
        };
    }

    static Step Cancel()
    {
        return [](QWidget* modal) { qobject_cast<QDialog*>(modal)->reject(); };
    }

    // A message box: its caption and text are kept, then its button pressed.
    static Step ReadMessageBox(QString* caption, QString* text)
    {
        return [caption, text](QWidget* modal) {
            if (auto* box = qobject_cast<QMessageBox*>(modal)) {
                *caption = box->windowTitle();
                *text = box->text();
            } else {
                ADD_FAILURE() << "expected a message box, got " << modal->metaObject()->className();
            }
            qobject_cast<QDialog*>(modal)->accept();
        };
    }

private:
    void Poll()
    {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal == nullptr || !modal->isVisible()) {
            m_answered = nullptr; // the last one has closed
            return;
        }
        if (modal == m_answered || m_next >= m_steps.size()) return;
        m_answered = modal;
        m_steps[m_next++](modal);
    }

    std::vector<Step> m_steps;
    std::size_t m_next = 0;
    QPointer<QWidget> m_answered; // the dialog last answered, until it has closed
    QTimer m_timer;
};
