#pragma once

#include <QDialog>
#include <QLabel>

#include <functional>

class QUrl;

namespace bv {


// A label that opens its own text on a left press.
class LinkLabel : public QLabel {
    Q_OBJECT
public:
    LinkLabel(const QString& text, std::function<void(const QUrl&)> open, QWidget* parent = nullptr);

protected:
    void mousePressEvent(QMouseEvent* event) override;

private:
    std::function<void(const QUrl&)> open_;
};

class AboutBox : public QDialog {
    Q_OBJECT
public:
    explicit AboutBox(std::function<void(const QUrl&)> open, QWidget* parent = nullptr);

    static QString versionLine();
    static QString productPage();
};

}  // namespace bv
