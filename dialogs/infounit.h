#pragma once

#include <QDialog>

// About box. (Minimal until its own work fills it in.)
class TInfoForm final : public QDialog {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TInfoForm)
public:
    explicit TInfoForm(QWidget *parent = nullptr);
    ~TInfoForm() override;
};
