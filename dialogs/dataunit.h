#pragma once

#include <QDialog>

namespace Ui { class TDataForm; }

// Website information dialog: one result row's address, "Online Since" and
// "Competitor" values, and the home page's title as the site's description.
// Created hidden once at start-up; the main window fills the fields and shows
// it modally, so the fields keep their texts between showings.
class TDataForm final : public QDialog {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TDataForm)
public:
    explicit TDataForm(QWidget *parent = nullptr);
    ~TDataForm() override;

    Ui::TDataForm *ui() const { return m_ui; }

    // Fills the three fields for a row and empties the description.
    void SetFields(const QString &url, const QString &since, const QString &competitor);

    // Fetches "http://" + the address field and shows the page's title.
    void RefreshBitBtnClick();
    // "Visit Website!": asks for the selected website to be visited; stays open.
    void BitBtn1Click();
    // "Close": ends the dialog with Ignore (5).
    void BitBtn2Click();

signals:
    // The owner visits the selected website, as its "Visit the selected website..." does.
    void visitWebsiteRequested();

protected:
    // Each showing starts centred on the screen with the focus on the address.
    void showEvent(QShowEvent *event) override;

private:
    Ui::TDataForm *m_ui;
};
