#pragma once

#include <QDialog>
#include <QString>

namespace Ui { class TStartForm; }

namespace kelvora {

// What the search dialog hands back: what to look for, and how.
struct SearchRequest {
    enum class Mode { Keyword, Domain };
    Mode mode = Mode::Keyword;
    QString keyword;    // "Keyword" field
    QString homepage;   // "Your homepage" field

    // The text the run searches for: the keyword or the address, by mode.
    QString Query() const;
};

} // namespace kelvora

// The search dialog: keyword or target address, and the go-ahead for a run.
// Created once at start-up and only hidden between uses, so its fields keep
// what the user typed. It loads the saved settings when created and writes
// them back every time it closes, however it closes.
class TStartForm final : public QDialog {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TStartForm)
public:
    // Modal results of the two buttons.
    static constexpr int kResearchResult = 1;
    static constexpr int kCancelResult = 3;

    explicit TStartForm(QWidget *parent = nullptr);
    ~TStartForm() override;

    Ui::TStartForm *ui() const { return m_ui; }

    // The search the fields describe; read once the dialog has ended with
    // kResearchResult.
    kelvora::SearchRequest Request() const;

    void FormCreate();        // loads the settings
    void BitBtn1Click();      // "Research"
    void BitBtn2Click();      // "Cancel"
    void FormCloseQuery();    // saves the settings

    // Every ending (the buttons, the close box, Escape) passes through here.
    void done(int result) override;

protected:
    // Each showing starts centred on the screen with the focus on "Research".
    void showEvent(QShowEvent *event) override;

private:
    Ui::TStartForm *m_ui;
};
