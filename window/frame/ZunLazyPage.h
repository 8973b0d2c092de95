#pragma once

#include <QWidget>

#include <functional>

class QVBoxLayout;

// A tab's place for a page that is made only when it is first needed: when its tab is
// first shown, or when its owner has time for it (build()). Until then the tab holds
// this empty widget; afterwards the page fills it edge to edge.
class ZunLazyPage : public QWidget
{
    Q_OBJECT
public:
    explicit ZunLazyPage(std::function<QWidget*()> make, QWidget* parent = nullptr);

    bool isBuilt() const { return m_page != nullptr; }
    QWidget* page() const { return m_page; }
    // Makes the page now unless it exists; returns it.
    QWidget* build();

signals:
    void built(QWidget* page);

protected:
    void showEvent(QShowEvent* event) override;

private:
    std::function<QWidget*()> m_make;
    QVBoxLayout* m_layout;
    QWidget* m_page = nullptr;
};
