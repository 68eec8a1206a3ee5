#include "MainView.h"

#include "AccountMenu.h"
#include "Badges.h"
#include "SectionHead.h"
#include "TopBar.h"

#include "Kit/Animation.h"
#include "Kit/Color.h"
#include "Kit/ConfirmDialog.h"
#include "Kit/Control.h"
#include "Kit/EscapeKey.h"
#include "Kit/Pill.h"
#include "Kit/Theme.h"
#include "Model/HubModel.h"

#include <QGraphicsOpacityEffect>
#include <QLabel>
#include <QLocale>
#include <QMouseEvent>
#include <QPainter>
#include <QStackedLayout>
#include <QTimer>
#include <QVBoxLayout>

namespace Hub::Views {

namespace {

// The DAW question's texts when a warning comes without its own. The dialog
// keeps the texts it was opened with, so it never goes blank while it
// closes after the warning was cleared.
const QString kFallbackConfirm = QStringLiteral("Continue anyway");
const QString kFallbackMessage =
    QStringLiteral("Close it first so it loads the new version. Plug-ins are replaced while it stays open, and it "
                   "may keep using the old one until you restart it.");

// An empty panel in the window's look, standing where a tab's, a page's or
// a sheet's content goes.
QWidget* emptyPanel(const QString& name, QWidget* parent)
{
    auto* panel = new QWidget(parent);
    panel->setObjectName(name);
    panel->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    return panel;
}

QColor windowColorOf(const HubModel& model)
{
    if (const Product* product = model.product(model.page()))
        return Kit::tintColor(*product);
    return Kit::Theme::bg();
}

} // namespace

// ---- TabBody ----------------------------------------------------------------

TabBody::TabBody(HubModel* model, QWidget* parent)
    : QScrollArea(parent)
    , m_model(model)
{
    setObjectName(QStringLiteral("tabBody"));
    setFrameShape(QFrame::NoFrame);
    setWidgetResizable(true);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    QPalette p = viewport()->palette();
    p.setColor(QPalette::Window, Kit::Theme::bg());
    viewport()->setPalette(p);
    viewport()->setAutoFillBackground(true);
    connect(model, &HubModel::tabChanged, this, &TabBody::showTab);
    showTab();
}

void TabBody::showTab()
{
    const Tab tab = m_model->tab();
    if (m_shown == tab)
        return;
    m_shown = tab;
    auto* holder = new QWidget;
    holder->setAutoFillBackground(false);
    auto* layout = new QVBoxLayout(holder);
    layout->setContentsMargins(30, 28, 30, 34);
    layout->setSpacing(0);
    m_content = makeTab(tab);
    layout->addWidget(m_content);
    setWidget(holder); // deletes the previous tab's content
}

// Each tab opens with its heading; the plug-ins tab's carries the refresh
// button. The rest of each tab's content is still to come.
QWidget* TabBody::makeTab(Tab tab)
{
    QWidget* panel = emptyPanel(rawValue(tab) + QStringLiteral("Body"), nullptr);
    auto* layout = new QVBoxLayout(panel);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    QWidget* trailing = tab == Tab::plugins ? new RefreshButton(m_model) : nullptr;
    layout->addWidget(new SectionHead(rawValue(tab), trailing));
    layout->addStretch(1);
    return panel;
}

// ---- PageLayer --------------------------------------------------------------

// The product page over the tab body, cross-faded in and out. It stays up
// only while the model's page names a product of the catalog.
class PageLayer : public QWidget {
public:
    PageLayer(HubModel* model, QWidget* parent)
        : QWidget(parent)
        , m_model(model)
        , m_effect(new QGraphicsOpacityEffect(this))
        , m_fade(new Kit::Tween(this))
        , m_layout(new QVBoxLayout(this))
    {
        setObjectName(QStringLiteral("pageLayer"));
        m_layout->setContentsMargins(0, 0, 0, 0);
        m_effect->setEnabled(false);
        setGraphicsEffect(m_effect);
        m_fade->onValue = [this](qreal v) {
            m_effect->setOpacity(v);
            // Whole, the layer paints directly rather than through the effect.
            m_effect->setEnabled(v < 1);
            if (v <= 0 && !m_wanted)
                clear();
        };
        hide();
    }

    QWidget* page() const { return m_page; }

    void sync()
    {
        const Product* product = m_model->product(m_model->page());
        m_wanted = product != nullptr;
        if (product) {
            if (!m_page || m_shownID != product->id) {
                delete m_page;
                m_page = makePage(*product);
                m_shownID = product->id;
                m_layout->addWidget(m_page);
            }
            if (isHidden()) {
                m_fade->jumpTo(0);
                show();
                raise();
            }
            m_fade->animateTo(1, Kit::Theme::pageMs);
        } else if (!isHidden()) {
            m_fade->animateTo(0, Kit::Theme::pageMs);
            if (m_fade->value() <= 0)
                clear();
        }
        update();
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.fillRect(rect(), windowColorOf(*m_model));
    }

private:
    void clear()
    {
        hide();
        delete m_page;
        m_page = nullptr;
        m_shownID.clear();
    }

    // The product's page; for now an empty panel in the product's tint.
    QWidget* makePage(const Product&) { return emptyPanel(QStringLiteral("productPage"), this); }

    HubModel* m_model;
    QGraphicsOpacityEffect* m_effect;
    Kit::Tween* m_fade;
    QVBoxLayout* m_layout;
    QWidget* m_page = nullptr;
    QString m_shownID;
    bool m_wanted = false;
};

// ---- MenuLayer --------------------------------------------------------------

// Lies over the whole window while the account menu is open: a click
// anywhere outside the menu closes it and reaches nothing underneath, so
// the account button and the tabs under it do not also react.
class MenuLayer : public QWidget {
public:
    MenuLayer(HubModel* model, QWidget* parent)
        : QWidget(parent)
        , m_model(model)
    {
        setObjectName(QStringLiteral("menuLayer"));
        hide();
    }

    AccountMenu* menu() const { return m_menu; }

    // `rebuild`: the open menu's contents changed.
    void sync(bool rebuild = false)
    {
        if (!m_model->accountMenu() || rebuild) {
            delete m_menu;
            m_menu = nullptr;
        }
        if (!m_model->accountMenu()) {
            hide();
            return;
        }
        if (!m_menu) {
            // Built anew on each opening, so no row starts out hovered.
            m_menu = new AccountMenu(m_model, this);
            // As tall as its fixed width needs: a long name wraps onto more
            // lines than the header's size hint allows for.
            const int height = m_menu->heightForWidth(AccountMenu::kWidth);
            m_menu->resize(AccountMenu::kWidth, height > 0 ? height : m_menu->sizeHint().height());
            m_menu->show();
        }
        setGeometry(parentWidget()->rect());
        place();
        show();
        raise();
    }

protected:
    void resizeEvent(QResizeEvent*) override { place(); }

    void mousePressEvent(QMouseEvent* event) override
    {
        m_pressedOutside = !(m_menu && m_menu->geometry().contains(event->position().toPoint()));
        event->accept();
    }

    void mouseReleaseEvent(QMouseEvent* event) override
    {
        event->accept();
        if (m_pressedOutside && rect().contains(event->position().toPoint()))
            m_model->setAccountMenu(false);
        m_pressedOutside = false;
    }

    void mouseDoubleClickEvent(QMouseEvent* event) override { event->accept(); }

private:
    void place()
    {
        if (m_menu)
            m_menu->move(width() - 16 - m_menu->width(), 48);
    }

    HubModel* m_model;
    AccountMenu* m_menu = nullptr;
    bool m_pressedOutside = false;
};

// ---- SheetHost --------------------------------------------------------------

SheetHost::SheetHost(HubModel* model, const Sheet& sheet, QWidget* parent)
    : QDialog(parent)
    , m_sheet(sheet)
{
    setObjectName(QStringLiteral("sheetHost"));
    setWindowModality(Qt::WindowModal);
    setAutoFillBackground(true);
    QPalette p = palette();
    p.setColor(QPalette::Window, Kit::Theme::panel());
    setPalette(p);
    setWindowTitle(model->name(sheet.slug));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(makeBody(sheet));
    setMinimumSize(460, 320);
}

QWidget* SheetHost::makeBody(const Sheet& sheet)
{
    static const char* const kinds[] = {"install", "feedback", "uninstall"};
    return emptyPanel(QString::fromLatin1(kinds[int(sheet.kind)]) + QStringLiteral("Sheet"), this);
}

// ---- MainView ---------------------------------------------------------------

MainView::MainView(HubModel* model, QWidget* parent)
    : QWidget(parent)
    , m_model(model)
    , m_topBar(new TopBar(model, this))
    , m_layers(new QStackedLayout)
    , m_tabBody(new TabBody(model, this))
    , m_page(new PageLayer(model, this))
    , m_menu(new MenuLayer(model, this))
    , m_escape(new Kit::EscapeKey(this, [this] { escape(); }))
{
    setObjectName(QStringLiteral("mainView"));

    // The page lies over the tab body; both stay in the layout so the tab
    // shows through while the page fades.
    m_layers->setStackingMode(QStackedLayout::StackAll);
    m_layers->addWidget(m_tabBody);
    m_layers->addWidget(m_page);
    m_layers->setCurrentWidget(m_tabBody);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_topBar);
    layout->addLayout(m_layers, 1);

    auto syncPage = [this] {
        m_page->sync();
        // The page raises itself over the tab body; the menu's layer stays
        // above both, so a page opened by a link cannot cover an open menu.
        m_menu->raise();
        updateEscape();
        update();
    };
    connect(model, &HubModel::pageChanged, this, syncPage);
    // The account can share further products, or stop sharing one.
    connect(model, &HubModel::catalogChanged, this, syncPage);
    connect(model, &HubModel::accountChanged, this, syncPage);
    connect(model, &HubModel::accountMenuChanged, this, [this] {
        m_menu->sync();
        updateEscape();
    });
    // The menu's header shows the account's details as they are now.
    connect(model, &HubModel::accountChanged, this, [this] { m_menu->sync(true); });
    connect(model, &HubModel::sheetChanged, this, &MainView::showSheet);
    connect(model, &HubModel::dawWarningChanged, this, &MainView::showDAWConfirmation);

    m_page->sync();
    m_menu->sync();
    updateEscape();
    showSheet();
    showDAWConfirmation();
}

MainView::~MainView()
{
    // The dialogs are children; they must not report back into a half-gone view.
    if (m_sheetHost)
        m_sheetHost->disconnect(this);
    if (m_confirm)
        m_confirm->disconnect(this);
}

QColor MainView::windowColor() const { return windowColorOf(*m_model); }

QString MainView::dawTitle(const QStringList& daws)
{
    return QLocale().createSeparatedList(daws) + (daws.size() == 1 ? QStringLiteral(" is open") : QStringLiteral(" are open"));
}

QString MainView::dawTitle() const
{
    const std::optional<DAWWarning>& warning = m_model->dawWarning();
    return dawTitle(warning ? warning->daws : QStringList());
}

void MainView::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.fillRect(rect(), windowColor());
}

void MainView::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    if (m_menu->isVisible())
        m_menu->setGeometry(rect());
}

void MainView::updateEscape() { m_escape->setEnabled(m_model->accountMenu() || m_model->page().has_value()); }

void MainView::escape()
{
    // The menu first; the page only once the menu is closed.
    if (m_model->accountMenu())
        m_model->setAccountMenu(false);
    else
        m_model->setPage(std::nullopt);
}

void MainView::showSheet()
{
    const std::optional<Sheet>& sheet = m_model->sheet();
    if (m_sheetHost && (!sheet || m_sheetHost->sheet() != *sheet)) {
        // Another sheet, or none: the one up goes first.
        SheetHost* old = m_sheetHost;
        old->reject();
        if (m_sheetHost == old)
            sheetClosed(old);
    }
    if (!sheet || m_sheetHost)
        return;
    auto* host = new SheetHost(m_model, *sheet, this);
    m_sheetHost = host;
    connect(host, &QDialog::finished, this, [this, host] { sheetClosed(host); });
    host->open();
}

void MainView::sheetClosed(SheetHost* host)
{
    if (host != m_sheetHost)
        return;
    m_sheetHost = nullptr;
    host->disconnect(this);
    host->deleteLater();
    // Closed by the user: the model's sheet goes with it.
    if (m_model->sheet() == host->sheet())
        m_model->setSheet(std::nullopt);
    else if (m_model->sheet())
        showSheet();
    // A DAW warning raised while the sheet was up is asked now.
    showDAWConfirmation();
}

void MainView::showDAWConfirmation()
{
    const std::optional<DAWWarning>& warning = m_model->dawWarning();
    if (m_confirm) {
        if (!warning) {
            m_confirm->reject();
            return;
        }
        // A newer warning while the question is up: ask that one instead.
        m_confirm->setWindowTitle(dawTitle());
        if (auto* title = m_confirm->findChild<QLabel*>(QStringLiteral("confirmTitle")))
            title->setText(dawTitle());
        if (auto* message = m_confirm->findChild<QLabel*>(QStringLiteral("confirmMessage")))
            message->setText(warning->message);
        Kit::setLiteralText(m_confirm->confirmButton(), warning->confirm);
        return;
    }
    // Only once no sheet is up: the question belongs to the window.
    if (!warning || m_sheetHost)
        return;
    auto* dialog = Kit::confirmCompat(
        this, dawTitle(), warning->confirm.isEmpty() ? kFallbackConfirm : warning->confirm,
        warning->message.isEmpty() ? kFallbackMessage : warning->message,
        [this] {
            if (const std::optional<DAWWarning>& pending = m_model->dawWarning()) {
                const std::function<void()> run = pending->run;
                if (run)
                    run();
            }
            m_model->clearDAWWarning();
        },
        [this] { m_model->clearDAWWarning(); });
    m_confirm = dialog;
    connect(dialog, &QDialog::finished, this, [this, dialog] {
        if (m_confirm == dialog)
            m_confirm = nullptr;
        // A warning that arrived while this one was answered gets its turn.
        QTimer::singleShot(0, this, &MainView::showDAWConfirmation);
    });
}

} // namespace Hub::Views
