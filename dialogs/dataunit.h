#pragma once

#include <QDialog>

// Website information dialog. (Minimal until its own work fills it in.)
class TDataForm final : public QDialog {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TDataForm)
public:
    explicit TDataForm(QWidget *parent = nullptr);
    ~TDataForm() override;
};
