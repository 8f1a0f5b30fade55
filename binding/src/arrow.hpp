// Export of one table through the Arrow C Data and C Stream interfaces, without copying:
// every buffer handed out is a view of a column of the shared tables, and holds a reference
// to them until the consumer releases it. Touches no Python object, so it runs with the GIL
// released, and the release callbacks may run on any thread.
#pragma once

#include <cstddef>
#include <expected>
#include <memory>
#include <string>
#include <utility>

#include <nanoarrow/nanoarrow.h>

#include "column/table.hpp"

namespace remitrax::binding::arrow {

using SharedTables = std::shared_ptr<const Tables>;

// Owns one exported C structure until it is moved out; releases it otherwise.
template <class T>
class Owned {
  public:
    Owned() = default;
    Owned(const Owned&) = delete;
    Owned& operator=(const Owned&) = delete;
    Owned(Owned&& other) noexcept : Owned() { std::swap(value_, other.value_); }
    Owned& operator=(Owned&& other) noexcept {
        std::swap(value_, other.value_);
        return *this;
    }
    ~Owned() {
        if (value_.release != nullptr) {
            value_.release(&value_);
        }
    }

    T* get() { return &value_; }
    // Moves the structure into `out` (which the caller owns from then on).
    void move_to(T* out) {
        *out = value_;
        value_.release = nullptr;
    }

  private:
    T value_{};  // released: its release callback is null
};

using Schema = Owned<ArrowSchema>;
using Array = Owned<ArrowArray>;
using Stream = Owned<ArrowArrayStream>;

// Failures are the RuntimeError messages of the export: "table #{} is gone", or
// "table {:?} could not be exported to Arrow: {}" with the Arrow error's text.

// The table's schema: a struct named "" with flags 0, one nullable field per column.
[[nodiscard]] std::expected<Schema, std::string> schema(const SharedTables& tables,
                                                        std::size_t index);

struct ArrayExport {
    Schema schema;
    Array array;
};
// The table as one struct array of its columns, with the schema of that struct.
[[nodiscard]] std::expected<ArrayExport, std::string> array(const SharedTables& tables,
                                                            std::size_t index);

// A stream of exactly one record batch, the table.
[[nodiscard]] std::expected<Stream, std::string> stream(const SharedTables& tables,
                                                        std::size_t index);

// The Arrow type and metadata of a column set on `field`; the error is the Arrow error's
// text (a decimal scale beyond Arrow's signed 8 bits).
[[nodiscard]] std::expected<void, std::string> arrow_type(const ColumnData& column,
                                                          ArrowSchema* field);

}  // namespace remitrax::binding::arrow
