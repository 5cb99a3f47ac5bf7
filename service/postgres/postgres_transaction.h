#pragma once
// The statements of one PostgreSQL transaction, on a connection that is inside BEGIN.

#include "service/postgres/postgres_pool.h"
#include "service/storage/storage_backend.h"

namespace glimmerly::service::pg {

class Transaction final : public StorageTransaction {
public:
    explicit Transaction(Connection& c) : c_(c) {}

    bool ExtendSession(std::string_view name, std::int64_t now, std::int64_t expires) override;
    // Locks the counter's row: uploads of one base take turns on every instance.
    std::int64_t SeriesNext(std::string_view base) override;
    void SetSeriesNext(std::string_view base, std::int64_t next) override;
    // The unique index of the given names decides between instances taking a name at once.
    std::optional<std::int64_t> InsertIfNameFree(const NewPicture& picture) override;
    std::optional<PictureToChange> FindForChange(std::string_view name) override;
    bool RenameIfFree(std::int64_t id, std::string_view name, std::string_view title) override;
    void DeletePicture(std::int64_t id) override;
    // Also notifies the listeners of every instance, when the transaction commits.
    std::int64_t RecordChange(std::int64_t pictureId) override;

private:
    Connection& c_;
};

} // namespace glimmerly::service::pg
