#pragma once

#include "Model/ModelTypes.h"

#include <QAbstractButton>
#include <QList>
#include <QWidget>

class QSpacerItem;

namespace Hub {
class HubModel;
}

namespace Hub::Kit {
class CountBadge;
class Tag;
class WindowDragArea;
} // namespace Hub::Kit

namespace Hub::Views {

// The application's name at the bar's leading end; a press shows the
// plug-ins list with no page open.
class Wordmark : public QAbstractButton {
    Q_OBJECT

public:
    explicit Wordmark(HubModel* model, QWidget* parent = nullptr);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    bool hitButton(const QPoint& pos) const override;
};

// The round button with the user's initials; toggles the account menu and
// is drawn filled while the menu is open.
class AccountButton : public QAbstractButton {
    Q_OBJECT

public:
    explicit AccountButton(HubModel* model, QWidget* parent = nullptr);

    // The letters shown: the first letters of the first and last words of
    // the name, else of its one word, else the e-mail's first letter,
    // upper case; empty without an account.
    static QString initials(const std::optional<AccountInfo>& account);
    QString shownText() const;
    bool open() const;

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    bool hitButton(const QPoint& pos) const override;

private:
    void refresh();

    HubModel* m_model;
};

// One tab of the strip: its upper-case name and, for Updates, the count.
class TabButton : public QAbstractButton {
    Q_OBJECT

public:
    TabButton(Tab tab, QWidget* parent = nullptr);

    Tab tab() const { return m_tab; }
    bool selected() const { return m_selected; }
    void set(bool selected, int count);
    Kit::CountBadge* badge() const { return m_badge; }

protected:
    void paintEvent(QPaintEvent* event) override;
    bool hitButton(const QPoint& pos) const override;

private:
    Tab m_tab;
    bool m_selected = false;
    int m_titleWidth = 0;
    QSpacerItem* m_titleSpace = nullptr;
    Kit::CountBadge* m_badge = nullptr;
};

// The tab strip; no tab is selected while a product page is open.
class Tabs : public QWidget {
    Q_OBJECT

public:
    explicit Tabs(HubModel* model, QWidget* parent = nullptr);

    TabButton* button(Tab tab) const;
    // Products with an update, plus the application's own newer release.
    int updateCount() const;

Q_SIGNALS:
    // The strip's size may have changed.
    void changed();

private:
    void refresh();

    HubModel* m_model;
    QList<TabButton*> m_buttons;
};

// The strip under the desktop's own title bar: wordmark, the "offline" tag,
// the account button, the tab strip centred whatever the widths at the
// sides, and a hairline along the bottom. Its empty parts move the window.
// Tab visits the wordmark, the tabs, then the account button.
class TopBar : public QWidget {
    Q_OBJECT

public:
    explicit TopBar(HubModel* model, QWidget* parent = nullptr);

    Tabs* tabs() const { return m_tabs; }
    Wordmark* wordmark() const { return m_wordmark; }
    AccountButton* accountButton() const { return m_account; }

    static constexpr int kHeight = 52;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void placeTabs();

    HubModel* m_model;
    Kit::WindowDragArea* m_drag;
    Kit::Tag* m_offline;
    Tabs* m_tabs;
    Wordmark* m_wordmark;
    AccountButton* m_account;
};

} // namespace Hub::Views
