#pragma once

#include <QDialog>

namespace Ui { class TInfoForm; }

// About box: the program's pictures and three oval buttons (close, home page,
// support mail). Created hidden once at start-up and shown modally by the About
// command; the Website and Support buttons leave it open.
class TInfoForm final : public QDialog {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TInfoForm)
public:
    // The modal result of "Close" and of the close box.
    static constexpr int kCloseResult = 3;

    explicit TInfoForm(QWidget *parent = nullptr);
    ~TInfoForm() override;

    Ui::TInfoForm *ui() const { return m_ui; }

    // "Close": ends the modal run with result 3.
    void BitBtn3Click();
    // "Website": opens the program's home page.
    void OvalButton2Click();
    // "Support": opens a new mail to the support address.
    void OvalButton1Click();

    // The close box (and Escape) end the box just as "Close" does.
    void reject() override;

protected:
    void showEvent(QShowEvent *event) override;

private:
    Ui::TInfoForm *m_ui;
};
