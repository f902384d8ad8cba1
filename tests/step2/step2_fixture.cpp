#include "step2_fixture.h"

#include "app/globals.h"
#include "app/unit1.h"
#include "dialogs/dataunit.h"

#include <QDialog>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QTimer>
#include <QWidget>

#include <chrono>
#include <cstdlib>

namespace step2test {
namespace {

constexpr std::chrono::milliseconds kModalPollInterval{20};
constexpr int kModalPollLimit = 250;    // 5 s

void pollForModal(std::function<void(QWidget *)> act, std::weak_ptr<ModalWatch> watch, int remaining)
{
    const Watch armed = watch.lock();
    if (!armed)
        return;
    QWidget *modal = QApplication::activeModalWidget();
    if (!modal) {
        if (remaining > 0)
            QTimer::singleShot(kModalPollInterval, [act = std::move(act), watch, remaining] {
                pollForModal(act, watch, remaining - 1);
            });
        return;
    }
    armed->seen = true;
    act(modal);
    if (QApplication::activeModalWidget() == modal) {
        if (auto *dialog = qobject_cast<QDialog *>(modal))
            dialog->reject();
        else
            modal->close();
    }
}

} // namespace

Windows::Windows()
{
    kelvora::SetShell(&shell);
    m_form = std::make_unique<TForm1>();
    Form1 = m_form.get();
    DataForm = new TDataForm(m_form.get());
}

Windows::~Windows()
{
    DataForm = nullptr;
    Form1 = nullptr;
    m_form.reset();
    kelvora::SetShell(nullptr);
}

Watch AnswerNextModal(std::function<void(QWidget *)> act)
{
    auto watch = std::make_shared<ModalWatch>();
    QTimer::singleShot(0, [act = std::move(act), weak = std::weak_ptr<ModalWatch>(watch)] {
        pollForModal(act, weak, kModalPollLimit);
    });
    return watch;
}

bool AcceptFile(QWidget *modal, const QString &path)
{
    auto *dialog = qobject_cast<QFileDialog *>(modal);
    if (!dialog)
        return false;
    // selectFile() leaves a focused name field alone, so type into it.
    auto *name = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
    if (!name)
        return false;
    name->setText(path);
    static_cast<QDialog *>(dialog)->accept();
    return true;
}

Watch ChooseFile(const QString &path)
{
    return AnswerNextModal([path](QWidget *modal) { QVERIFY(AcceptFile(modal, path)); });
}

void ResolveAllTo(std::uint16_t port)
{
    const std::string value = "*=127.0.0.1:" + std::to_string(port);
    ::setenv("KELVORA_RESOLVE", value.c_str(), 1);
}

void PrepareEnvironment()
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
}

std::string ReadAll(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return "<missing>";
    return file.readAll().toStdString();
}

void WriteAll(const QString &path, const std::string &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(bytes.data(), qint64(bytes.size())), qint64(bytes.size()));
}

} // namespace step2test
