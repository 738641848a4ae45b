#include "IndexReconciler.h"

namespace shareindex {

void IndexReconciler::SetIndexed(const std::vector<SearchResult>& finds)
{
    m_unconfirmed.clear();
    AddIndexed(finds);
}

void IndexReconciler::AddIndexed(const std::vector<SearchResult>& finds)
{
    m_unconfirmed.reserve(m_unconfirmed.size() + static_cast<qsizetype>(finds.size()));
    for (const SearchResult& r : finds)
        m_unconfirmed.insert(r.strPath, {r.nSize, r.nLastWrite});
    m_bActive = true;
}

std::vector<SearchResult> IndexReconciler::Walked(std::vector<SearchResult>&& batch,
                                                  QSet<QString>* pStale)
{
    if (!m_bActive)
        return std::move(batch);
    std::vector<SearchResult> add;
    add.reserve(batch.size());
    for (SearchResult& r : batch) {
        const auto it = m_unconfirmed.constFind(r.strPath);
        if (it == m_unconfirmed.constEnd()) {
            add.push_back(std::move(r));
            continue;
        }
        const bool bSame = it->nSize == r.nSize && it->nLastWrite == r.nLastWrite;
        m_unconfirmed.erase(it);
        if (bSame)
            continue; // its row from the index shows it as it is
        pStale->insert(r.strPath);
        add.push_back(std::move(r));
    }
    return add;
}

QSet<QString> IndexReconciler::Unconfirmed()
{
    QSet<QString> gone;
    gone.reserve(m_unconfirmed.size());
    for (auto it = m_unconfirmed.constBegin(); it != m_unconfirmed.constEnd(); ++it)
        gone.insert(it.key());
    m_unconfirmed.clear();
    m_bActive = false;
    return gone;
}

} // namespace shareindex
