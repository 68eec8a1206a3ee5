#include "Shell/RootView.h"

#include "Model/HubModel.h"
#include "Shell/SignInView.h"
#include "Shell/SplashView.h"

#include <QStackedLayout>

using namespace Qt::StringLiterals;

namespace Hub::Shell {

RootView::RootView(HubModel* model, MainFactory makeMain, QWidget* parent)
    : QWidget(parent)
    , m_model(model)
    , m_makeMain(std::move(makeMain))
{
    setObjectName(u"root"_s);
    m_stack = new QStackedLayout(this);
    m_stack->setContentsMargins(0, 0, 0, 0);
    m_splash = new SplashView(this);
    m_signIn = new SignInView(model, this);
    m_stack->addWidget(m_splash);
    m_stack->addWidget(m_signIn);
    connect(m_model, &HubModel::screenChanged, this, &RootView::showScreen);
    showScreen();
}

QWidget* RootView::current() const { return m_stack->currentWidget(); }

void RootView::showScreen()
{
    switch (m_model->screen()) {
    case Screen::splash:
        m_stack->setCurrentWidget(m_splash);
        break;
    case Screen::login:
        m_stack->setCurrentWidget(m_signIn);
        break;
    case Screen::main:
        if (!m_main) {
            m_main = m_makeMain(this);
            m_stack->addWidget(m_main);
        }
        m_stack->setCurrentWidget(m_main);
        break;
    }
}

} // namespace Hub::Shell
