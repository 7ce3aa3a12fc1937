#pragma once
// Answers the modal dialogs that a handler opens while it runs (a file dialog, an error box), one
// step per dialog, in the order they appear. The steps run inside the dialogs' own event loops.

#include <functional>
#include <vector>

#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QWidget>

class ModalDriver {
public:
    using Step = std::function<void(QWidget* modal)>;

    explicit ModalDriver(std::vector<Step> steps);

    // How many steps have been run: the number of dialogs that appeared.
    int Answered() const { return m_next; }

    // Steps for the common dialogs.
    static Step ChooseFile(QString path);   // a file dialog: choose `path` and accept
    static Step Cancel();                   // any dialog: reject
    // A message box: remember its caption and text, then press its button.
    static Step ReadMessageBox(QString* caption, QString* text);

private:
    void Poll();

    std::vector<Step> m_steps;
    int m_next = 0;
    QPointer<QWidget> m_answered; // the dialog last answered, until it has closed
    QTimer m_timer;
};
