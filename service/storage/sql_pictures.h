#pragma once
// What the two SQL back ends share about their pictures table: the columns a StoredPicture is
// read from.

#include "service/storage/stored_picture.h"

namespace glimmerly::service::sql {

// Read in this order by PictureFromColumns.
inline constexpr const char* kPictureColumns =
    "id, name, title, coalesce(session, ''), size, width, height, created, seq";

// A picture from a row of kPictureColumns; integer(i) and text(i) read column i.
template <typename Integer, typename Text>
StoredPicture PictureFromColumns(Integer integer, Text text) {
    StoredPicture p;
    p.id = integer(0);
    p.name = text(1);
    p.title = text(2);
    p.session = text(3);
    p.size = integer(4);
    p.width = static_cast<int>(integer(5));
    p.height = static_cast<int>(integer(6));
    p.created = integer(7);
    p.seq = integer(8);
    return p;
}

} // namespace glimmerly::service::sql
