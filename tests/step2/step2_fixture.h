#pragma once

#include "platform/shell.h"

#include <QApplication>
#include <QStringList>
#include <QTest>

#include <functional>
#include <memory>
#include <string>

class QWidget;
class TForm1;

namespace step2test {

// Records every target handed to the shell instead of opening it.
class RecordingShell final : public kelvora::Shell {
public:
    void Open(const QString &target) override { opened << target; }
    QStringList opened;
};

// The program's windows as start-up makes them, with the globals pointing at
// them and a recording shell in place. Destroyed in reverse order.
class Windows final {
public:
    Windows();
    ~Windows();
    Windows(const Windows &) = delete;
    Windows &operator=(const Windows &) = delete;

    TForm1 &form() const { return *m_form; }
    RecordingShell shell;

private:
    std::unique_ptr<TForm1> m_form;
};

// A watcher armed by AnswerNextModal; dropping the last reference disarms it.
struct ModalWatch {
    bool seen = false;
};
using Watch = std::shared_ptr<ModalWatch>;

// Arms a watcher that waits (bounded) for the next modal window, hands it to
// act, and then ends it if act left it open, so a failed check cannot hang
// the test.
Watch AnswerNextModal(std::function<void(QWidget *)> act);

// Picks path in a file dialog and accepts it; false when modal is no file dialog.
bool AcceptFile(QWidget *modal, const QString &path);
// Arms AnswerNextModal to choose path in the next file dialog.
Watch ChooseFile(const QString &path);

// Sends the connections of every host to the loopback port.
void ResolveAllTo(std::uint16_t port);

// Sets the offscreen platform unless the caller chose one.
void PrepareEnvironment();

// A file's bytes; "<missing>" when it cannot be opened.
std::string ReadAll(const QString &path);
// Replaces a file's content with bytes; a failure fails the running test.
void WriteAll(const QString &path, const std::string &bytes);

} // namespace step2test

#define STEP2_TEST_MAIN(TestClass)                                  \
    int main(int argc, char **argv)                                 \
    {                                                               \
        step2test::PrepareEnvironment();                            \
        QApplication app(argc, argv);                               \
        TestClass test;                                             \
        return QTest::qExec(&test, argc, argv);                     \
    }
