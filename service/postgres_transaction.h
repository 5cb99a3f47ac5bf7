#pragma once
// The statements of one PostgreSQL transaction, on a connection that is inside BEGIN.

#include "service/postgres_pool.h"
#include "service/storage_backend.h"

namespace glimmerly::service::pg {

class Transaction final : public StorageTransaction {
public:
    explicit Transaction(Connection& c) : c_(c) {}

    bool ExtendSession(std::string_view name, std::int64_t now, std::int64_t expires) override;
    std::vector<std::string> NamesInSeries(std::string_view base) override;
    // The unique index decides between instances taking the same name at once.
    std::optional<std::int64_t> InsertIfNameFree(const NewPicture& picture) override;
    std::optional<std::int64_t> FindForChange(std::string_view name) override;
    bool RenameIfFree(std::int64_t id, std::string_view name, std::string_view title) override;
    // Also notifies the listeners of every instance, when the transaction commits.
    std::int64_t RecordChange(std::int64_t pictureId) override;

private:
    Connection& c_;
};

} // namespace glimmerly::service::pg
