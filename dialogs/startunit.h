#pragma once

#include <QDialog>

namespace Ui { class TStartForm; }

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

    // The caller reads the mode and texts through here once the dialog has closed.
    Ui::TStartForm *ui() const { return m_ui; }

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
