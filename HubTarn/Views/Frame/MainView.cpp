#include "Views/Frame/MainView.h"

#include "Views/Frame/AccountMenu.h"
#include "Views/Frame/MenuLayer.h"
#include "Views/Frame/PageLayer.h"
#include "Views/Frame/TabBody.h"
#include "Views/Frame/TopBar.h"
#include "Views/Sheets/SheetView.h"

#include "Kit/Animation.h"
#include "Kit/Color.h"
#include "Kit/ConfirmDialog.h"
#include "Kit/Control.h"
#include "Kit/EscapeKey.h"
#include "Kit/Pill.h"
#include "Kit/TextStyle.h"
#include "Kit/Theme.h"
#include "Model/HubModel.h"

#include <QApplication>
#include <QGraphicsOpacityEffect>
#include <QLabel>
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

// The shade over the window while a dialog of it is up; it takes no clicks
// of its own (the dialog is modal).
class Scrim : public QWidget {
public:
    explicit Scrim(QWidget* parent)
        : QWidget(parent)
    {
        setObjectName(QStringLiteral("scrim"));
        setAttribute(Qt::WA_TransparentForMouseEvents);
        hide();
    }

protected:
    void paintEvent(QPaintEvent*) override { QPainter(this).fillRect(rect(), Kit::Theme::scrim()); }
};

} // namespace

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
    , m_scrim(new Scrim(this))
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
        updateScrim();
        updateEscape();
        update();
    };
    // A tab body wholly under the page is out of the Tab order: hidden.
    connect(m_page, &PageLayer::coveringChanged, m_tabBody, [this](bool covering) { m_tabBody->setVisible(!covering); });
    connect(model, &HubModel::pageChanged, this, syncPage);
    // The account can share further products, or stop sharing one.
    connect(model, &HubModel::catalogChanged, this, syncPage);
    connect(model, &HubModel::accountChanged, this, syncPage);
    connect(model, &HubModel::accountMenuChanged, this, [this] {
        const bool focusInMenu = m_menu->isAncestorOf(QApplication::focusWidget());
        m_menu->sync();
        updateEscape();
        // Keys go where the eyes go: into the menu as it opens, back to
        // the account button as it closes, never to a tab left under it.
        if (m_model->accountMenu() && m_menu->menu() && !m_menu->menu()->rows().isEmpty())
            m_menu->menu()->rows().front()->setFocus(Qt::OtherFocusReason);
        else if (!m_model->accountMenu() && (focusInMenu || !QApplication::focusWidget()))
            m_topBar->accountButton()->setFocus(Qt::OtherFocusReason);
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
    if (m_sheetView)
        m_sheetView->disconnect(this);
    if (m_confirm)
        m_confirm->disconnect(this);
}

QColor MainView::windowColor() const { return PageLayer::windowColor(*m_model); }

QString MainView::dawTitle(const QStringList& daws)
{
    return Kit::joinedList(daws) + (daws.size() == 1 ? QStringLiteral(" is open") : QStringLiteral(" are open"));
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
    m_scrim->setGeometry(rect());
}

void MainView::updateScrim()
{
    const bool shaded = m_sheetView || m_confirm;
    m_scrim->setGeometry(rect());
    m_scrim->setVisible(shaded);
    if (shaded)
        m_scrim->raise();
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
    if (m_sheetView && (!sheet || m_sheetView->sheet() != *sheet)) {
        // Another sheet, or none: the one up goes first.
        SheetView* old = m_sheetView;
        old->reject();
        if (m_sheetView == old)
            sheetClosed(old);
    }
    if (!sheet || m_sheetView)
        return;
    auto* host = new SheetView(m_model, *sheet, this);
    m_sheetView = host;
    connect(host, &QDialog::finished, this, [this, host] { sheetClosed(host); });
    host->open();
    updateScrim();
    Kit::guardSecondClick(host);
}

void MainView::sheetClosed(SheetView* host)
{
    if (host != m_sheetView)
        return;
    m_sheetView = nullptr;
    host->disconnect(this);
    host->deleteLater();
    // Closed by the user: the model's sheet goes with it.
    if (m_model->sheet() == host->sheet())
        m_model->setSheet(std::nullopt);
    else if (m_model->sheet())
        showSheet();
    // A DAW warning raised while the sheet was up is asked now.
    showDAWConfirmation();
    updateScrim();
    // The keys go back to the window: a window manager hands them back when
    // a dialog closes, but without one they would go nowhere until a click.
    if (!m_sheetView && !m_confirm)
        window()->activateWindow();
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
        m_confirm->setTexts(dawTitle(), warning->confirm.isEmpty() ? kFallbackConfirm : warning->confirm,
                            warning->message.isEmpty() ? kFallbackMessage : warning->message);
        return;
    }
    // Only once no sheet is up: the question belongs to the window.
    if (!warning || m_sheetView)
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
    updateScrim();
    connect(dialog, &QDialog::finished, this, [this, dialog] {
        if (m_confirm == dialog)
            m_confirm = nullptr;
        updateScrim();
        // A warning that arrived while this one was answered gets its turn.
        QTimer::singleShot(0, this, &MainView::showDAWConfirmation);
    });
}

} // namespace Hub::Views
