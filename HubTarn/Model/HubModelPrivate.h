#pragma once

// The model's own machinery, for the model's .cpp files alone: a view sees
// HubModel.h, and nothing here.
#include "Model/HubModel.h"

#include <QMetaObject>
#include <QPointer>

#include <exception>
#include <memory>
#include <optional>
#include <type_traits>
#include <utility>
#include <variant>

namespace Hub {

template<typename T>
struct HubModel::Outcome {
    std::optional<T> value;
    std::exception_ptr error;
};

template<typename Work, typename Done>
void HubModel::submit(Keep keep, Work work, Done done)
{
    using Raw = std::invoke_result_t<Work>;
    using T = std::conditional_t<std::is_void_v<Raw>, std::monostate, Raw>;
    const quint64 generation = m_generation;
    QPointer<HubModel> self(this);
    m_pool.start([self, keep, generation, work = std::move(work), done = std::move(done)]() mutable {
        auto outcome = std::make_shared<Outcome<T>>();
        try {
            if constexpr (std::is_void_v<Raw>) {
                work();
                outcome->value = std::monostate{};
            } else {
                outcome->value = work();
            }
        } catch (...) {
            outcome->error = std::current_exception();
        }
        QMetaObject::invokeMethod(
            self.data(),
            [self, keep, generation, outcome, done = std::move(done)]() mutable {
                if (!self || (keep == Keep::sameSession && self->m_generation != generation))
                    return;
                done(std::move(*outcome));
            },
            Qt::QueuedConnection);
    });
}

template<typename Visit>
void HubModel::forEachShown(Visit visit) const
{
    if (!m_catalog)
        return;
    for (const Product& product : m_catalog->products)
        if (!product.isInvite())
            visit(product);
    if (m_account)
        for (const QString& id : m_account->products)
            if (const Product* shared = catalogProduct(id); shared && shared->isInvite())
                visit(*shared);
}

template<typename T>
void HubModel::assign(T& member, const T& value, void (HubModel::*changed)())
{
    if (member == value)
        return;
    member = value;
    Q_EMIT (this->*changed)();
}

} // namespace Hub
