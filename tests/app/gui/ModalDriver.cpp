#include "ModalDriver.h"

#include <gtest/gtest.h>

#include <utility>

#include <QApplication>
#include <QDialog>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>

ModalDriver::ModalDriver(std::vector<Step> steps) : m_steps(std::move(steps))
{
    m_timer.setInterval(5);
    QObject::connect(&m_timer, &QTimer::timeout, &m_timer, [this] { Poll(); });
    m_timer.start();
}

void ModalDriver::Poll()
{
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr || !modal->isVisible()) {
        m_answered = nullptr;
        return;
    }
    if (modal == m_answered || m_next >= static_cast<int>(m_steps.size()))
        return;
    m_answered = modal;
    m_steps[static_cast<std::size_t>(m_next++)](modal);
}

ModalDriver::Step ModalDriver::ChooseFile(QString path)
{
    return [path](QWidget* modal) {
        auto* dialog = qobject_cast<QFileDialog*>(modal);
        if (dialog == nullptr) {
            qobject_cast<QDialog*>(modal)->reject();
            return;
        }
        // Typed into the name box as a user would: selectFile() mangles an absolute path whose
        // folder does not exist.
        auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        if (name == nullptr) {
            ADD_FAILURE() << "the file dialog has no name box";
            dialog->reject();
            return;
        }
        name->setText(path);
        static_cast<QDialog*>(dialog)->accept(); // as the dialog's Save button does
    };
}

ModalDriver::Step ModalDriver::Cancel()
{
    return [](QWidget* modal) { qobject_cast<QDialog*>(modal)->reject(); };
}

ModalDriver::Step ModalDriver::ReadMessageBox(QString* caption, QString* text)
{
    return [caption, text](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        if (box != nullptr) {
            *caption = box->windowTitle();
            *text = box->text();
        } else {
            *caption = QStringLiteral("<not a message box: %1>").arg(modal->metaObject()->className());
        }
        qobject_cast<QDialog*>(modal)->accept();
    };
}
