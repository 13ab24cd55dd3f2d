#pragma once

#include <QWidget>

// The symbol an empty drop window shows: a document with a green "+" badge, in colour,
// 150 x 150. It lets mouse and drag events through to the list below it.
class DropPlaceholder : public QWidget
{
    Q_OBJECT

public:
    explicit DropPlaceholder(QWidget* parent = nullptr);

    static constexpr int kSide = 150;

protected:
    void paintEvent(QPaintEvent* event) override;
};
