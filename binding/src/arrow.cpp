// The Arrow C Data and C Stream export of one table: schemas and arrays whose buffers point
// into the shared tables, the private data that keeps those tables alive, and the release
// callbacks.
#include "arrow.hpp"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <new>
#include <span>
#include <variant>

#include "base/text.hpp"

namespace remitrax::binding::arrow {

namespace {

// Where a zero-length buffer points: some consumers refuse a null data pointer even when
// there is nothing to read.
alignas(64) const std::uint8_t no_bytes[64] = {};

enum class BufferKind : std::uint8_t { Validity, Offsets, Bytes, Values };

// The owner of one exported buffer: a reference to the tables and the place of the buffer
// in them. The tables never change, so the bytes stay where they are for as long as it
// lives. Released by the consumer, on any thread.
struct Shared {
    SharedTables tables;
    std::size_t table = 0;
    std::size_t column = 0;
    BufferKind kind = BufferKind::Values;

    // Declared before bytes(): the bodies of a class's functions are read in order, and
    // std::visit in bytes() instantiates as_bytes<T> while reading it; were as_bytes's body
    // not read yet, clang would report it as used but never defined (-Wundefined-internal).
    template <class T>
    static std::span<const std::uint8_t> as_bytes(const std::vector<T>& buffer) {
        return {reinterpret_cast<const std::uint8_t*>(buffer.data()), buffer.size() * sizeof(T)};
    }

    // The buffer's bytes, looked up through the indexes; empty for a place that does not
    // hold a buffer of this kind.
    std::span<const std::uint8_t> bytes() const {
        if (table >= tables->size()) {
            return {};
        }
        const auto& columns = tables->tables()[table].columns();
        if (column >= columns.size()) {
            return {};
        }
        const ColumnData& data = columns[column].data;
        if (kind == BufferKind::Validity) {
            return as_bytes(data.validity);
        }
        return std::visit(
            [&](const auto& values) -> std::span<const std::uint8_t> {
                using Kind = std::decay_t<decltype(values)>;
                if constexpr (std::is_same_v<Kind, ColumnData::Binary>) {
                    if (kind == BufferKind::Offsets) {
                        return as_bytes(values.offsets);
                    }
                    if (kind == BufferKind::Bytes) {
                        return as_bytes(values.data);
                    }
                    return {};
                } else {
                    if (kind == BufferKind::Values) {
                        return as_bytes(values.values);
                    }
                    return {};
                }
            },
            data.values);
    }
};

void release_shared(ArrowBufferAllocator* allocator, std::uint8_t*, std::int64_t) {
    delete static_cast<Shared*>(allocator->private_data);
}

std::string gone(std::size_t index) {
    return "table #" + std::to_string(index) + " is gone";
}

std::string export_error(std::string_view table, std::string_view reason) {
    std::string message = "table " + quoted(table) + " could not be exported to Arrow: ";
    message += reason;
    return message;
}

// The text of a failed nanoarrow call: its message, or the error code when it left none.
std::string arrow_error(int code, const ArrowError& error) {
    if (code == ENOMEM) {
        throw std::bad_alloc();
    }
    if (error.message[0] != '\0') {
        return error.message;
    }
    return "Arrow error code " + std::to_string(code);
}

// A nanoarrow call that fails only for want of memory or through a fault of ours.
void must(int code) {
    if (code == ENOMEM) {
        throw std::bad_alloc();
    }
    if (code != NANOARROW_OK) {
        throw std::logic_error("nanoarrow refused a call: error code " + std::to_string(code));
    }
}

[[nodiscard]] std::expected<void, std::string> field(const NamedColumn& column, ArrowSchema* out) {
    must(ArrowSchemaSetName(out, column.name.c_str()));
    out->flags = ARROW_FLAG_NULLABLE;
    return arrow_type(column.data, out);
}

// The struct schema of a table's columns.
[[nodiscard]] std::expected<Schema, std::string> schema_of(const Table& table) {
    Schema schema;
    ArrowSchemaInit(schema.get());
    must(ArrowSchemaSetTypeStruct(schema.get(), static_cast<std::int64_t>(table.columns().size())));
    must(ArrowSchemaSetName(schema.get(), ""));
    schema.get()->flags = 0;
    for (std::size_t i = 0; i < table.columns().size(); ++i) {
        auto made = field(table.columns()[i], schema.get()->children[i]);
        if (!made) {
            return std::unexpected(std::move(made.error()));
        }
    }
    return schema;
}

// Sets buffer `i` of `array` to a view of the column's buffer of `kind`.
void set_buffer(ArrowArray* array, std::int64_t i, const SharedTables& tables, std::size_t table,
                std::size_t column, BufferKind kind) {
    auto shared = std::make_unique<Shared>(Shared{tables, table, column, kind});
    const auto bytes = shared->bytes();
    ArrowBuffer buffer;
    ArrowBufferInit(&buffer);
    buffer.data = const_cast<std::uint8_t*>(bytes.empty() ? no_bytes : bytes.data());
    buffer.size_bytes = static_cast<std::int64_t>(bytes.size());
    buffer.capacity_bytes = buffer.size_bytes;
    buffer.allocator = ArrowBufferDeallocator(&release_shared, shared.release());
    const int code = ArrowArraySetBuffer(array, i, &buffer);
    if (code != NANOARROW_OK) {
        ArrowBufferReset(&buffer);
        must(code);
    }
}

ArrowType storage_type(const ColumnData& column) {
    struct Visit {
        ArrowType operator()(const ColumnData::Binary&) const { return NANOARROW_TYPE_BINARY; }
        ArrowType operator()(const ColumnData::Int64&) const { return NANOARROW_TYPE_INT64; }
        ArrowType operator()(const ColumnData::Decimal128&) const {
            return NANOARROW_TYPE_DECIMAL128;
        }
        ArrowType operator()(const ColumnData::Date32&) const { return NANOARROW_TYPE_DATE32; }
        ArrowType operator()(const ColumnData::Time32&) const { return NANOARROW_TYPE_TIME32; }
    };
    return std::visit(Visit{}, column.values);
}

// The array of one column over views of its buffers, fully validated.
[[nodiscard]] std::expected<Array, std::string> column_array(const SharedTables& tables,
                                                             std::size_t table, std::size_t index) {
    const ColumnData& column = tables->tables()[table].columns()[index].data;
    Array array;
    must(ArrowArrayInitFromType(array.get(), storage_type(column)));
    if (std::holds_alternative<ColumnData::Binary>(column.values)) {
        set_buffer(array.get(), 1, tables, table, index, BufferKind::Offsets);
        set_buffer(array.get(), 2, tables, table, index, BufferKind::Bytes);
    } else {
        set_buffer(array.get(), 1, tables, table, index, BufferKind::Values);
    }
    const std::size_t nulls = column.null_count();
    if (nulls != 0) {
        set_buffer(array.get(), 0, tables, table, index, BufferKind::Validity);
    }
    array.get()->length = static_cast<std::int64_t>(column.len);
    array.get()->null_count = static_cast<std::int64_t>(nulls);
    array.get()->offset = 0;
    ArrowError error{};
    const int code = ArrowArrayFinishBuilding(array.get(), NANOARROW_VALIDATION_LEVEL_FULL, &error);
    if (code != NANOARROW_OK) {
        return std::unexpected(arrow_error(code, error));
    }
    return array;
}

// The table as a struct array of its columns, with its schema; the length is the table's
// row count, so a table without columns keeps its rows.
[[nodiscard]] std::expected<ArrayExport, std::string> record_batch(const SharedTables& tables,
                                                                   std::size_t index) {
    if (index >= tables->size()) {
        return std::unexpected(gone(index));
    }
    const Table& table = tables->tables()[index];
    const std::size_t count = table.columns().size();
    ArrayExport batch;
    must(ArrowArrayInitFromType(batch.array.get(), NANOARROW_TYPE_STRUCT));
    must(ArrowArrayAllocateChildren(batch.array.get(), static_cast<std::int64_t>(count)));
    for (std::size_t i = 0; i < count; ++i) {
        auto column = column_array(tables, index, i);
        if (!column) {
            return std::unexpected(export_error(table.name(), column.error()));
        }
        column->move_to(batch.array.get()->children[i]);
    }
    auto schema = schema_of(table);
    if (!schema) {
        return std::unexpected(export_error(table.name(), schema.error()));
    }
    batch.schema = std::move(*schema);
    batch.array.get()->length = static_cast<std::int64_t>(table.rows());
    batch.array.get()->null_count = 0;
    // The columns were validated in full one by one; this checks the struct's own shape.
    ArrowError error{};
    const int code =
        ArrowArrayFinishBuilding(batch.array.get(), NANOARROW_VALIDATION_LEVEL_DEFAULT, &error);
    if (code != NANOARROW_OK) {
        return std::unexpected(export_error(table.name(), arrow_error(code, error)));
    }
    return batch;
}

}  // namespace

[[nodiscard]] std::expected<void, std::string> arrow_type(const ColumnData& column,
                                                          ArrowSchema* field) {
    const ColumnType type = column.type();
    switch (type.kind) {
        case ColumnKind::Binary:
            must(ArrowSchemaSetType(field, NANOARROW_TYPE_BINARY));
            return {};
        case ColumnKind::Int64: {
            must(ArrowSchemaSetType(field, NANOARROW_TYPE_INT64));
            if (type.scale != 0) {
                ArrowBuffer metadata;
                must(ArrowMetadataBuilderInit(&metadata, nullptr));
                const std::string scale = std::to_string(type.scale);
                const int code = ArrowMetadataBuilderAppend(&metadata, ArrowCharView("scale"),
                                                            ArrowCharView(scale.c_str()));
                if (code == NANOARROW_OK) {
                    const int set =
                        ArrowSchemaSetMetadata(field, reinterpret_cast<const char*>(metadata.data));
                    ArrowBufferReset(&metadata);
                    must(set);
                } else {
                    ArrowBufferReset(&metadata);
                    must(code);
                }
            }
            return {};
        }
        case ColumnKind::Decimal128:
            if (type.scale > 127) {
                return std::unexpected("Invalid argument error: decimal scale " +
                                       std::to_string(type.scale) +
                                       " does not fit Arrow's i8 scale");
            }
            must(ArrowSchemaSetTypeDecimal(field, NANOARROW_TYPE_DECIMAL128, type.precision,
                                           type.scale));
            return {};
        case ColumnKind::Date32:
            must(ArrowSchemaSetType(field, NANOARROW_TYPE_DATE32));
            return {};
        case ColumnKind::Time32:
            must(ArrowSchemaSetTypeDateTime(field, NANOARROW_TYPE_TIME32,
                                            NANOARROW_TIME_UNIT_SECOND, nullptr));
            return {};
    }
    throw std::logic_error("a column kind without an Arrow type");
}

[[nodiscard]] std::expected<Schema, std::string> schema(const SharedTables& tables,
                                                        std::size_t index) {
    if (index >= tables->size()) {
        return std::unexpected(gone(index));
    }
    const Table& table = tables->tables()[index];
    auto made = schema_of(table);
    if (!made) {
        return std::unexpected(export_error(table.name(), made.error()));
    }
    return std::move(*made);
}

[[nodiscard]] std::expected<ArrayExport, std::string> array(const SharedTables& tables,
                                                            std::size_t index) {
    return record_batch(tables, index);
}

[[nodiscard]] std::expected<Stream, std::string> stream(const SharedTables& tables,
                                                        std::size_t index) {
    auto batch = record_batch(tables, index);
    if (!batch) {
        return std::unexpected(std::move(batch.error()));
    }
    Stream stream;
    // The basic stream takes the schema over, and then the one array.
    must(ArrowBasicArrayStreamInit(stream.get(), batch->schema.get(), 1));
    ArrowBasicArrayStreamSetArray(stream.get(), 0, batch->array.get());
    return stream;
}

}  // namespace remitrax::binding::arrow
