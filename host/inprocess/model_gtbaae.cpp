// Rows of an object's groups: add rows with one value (gtbaae) and set a
// value in existing rows (gtbmae).
#include <utility>

#include "host/inprocess/model_internal.h"

using namespace pcs::host::model;
using namespace pcs::host::model::detail;

namespace {

// The column a row service writes: object, group and attribute resolved.
struct Column {
  const GroupDef *group = nullptr;
  size_t attribute = 0;
  std::vector<Row> *rows = nullptr;
  size_t width() const { return size_t(group->attributes[attribute].length); }
};

int resolve(const int *handle, const char *group, const char *attribute, Column *column) {
  if (!handle || !group || !attribute) return PCS_HOST_BAD_ARGUMENT;
  Model &m = state().model;
  Object *object = m.object(*handle);
  if (!object) return PCS_HOST_NO_OBJECT;
  column->group = m.group(field(group, kNameWidth));
  if (!column->group) return PCS_HOST_NO_GROUP;
  int i = column->group->find(field(attribute, kNameWidth));
  if (i < 0) return PCS_HOST_NO_ATTRIBUTE;
  column->attribute = size_t(i);
  auto rows = object->groups.find(column->group->name);
  if (rows == object->groups.end()) return PCS_HOST_NOT_ATTACHED;
  column->rows = &rows->second;
  return 0;
}

// Resolves the column and records the values the call hands over ("?" when
// they cannot be read).
int describe(Service &call, const int *ws, const int *handle, const char *group,
             const char *attribute, const int *count, const void *value, Column *column) {
  int code = check_writing(ws);
  if (code == 0) code = resolve(handle, group, attribute, column);
  if (code == 0 && (!count || *count < 1 || !value)) code = PCS_HOST_BAD_ARGUMENT;
  if (code != 0) {
    call.text("?");
    return code;
  }
  std::string shown;
  const char *bytes = static_cast<const char *>(value);
  for (int k = 0; k < *count; ++k) {
    if (k > 0) shown += "|";
    shown += render(value_text(column->group->attributes[column->attribute],
                               std::string_view(bytes + size_t(k) * column->width(), column->width())));
  }
  call.text(std::move(shown));
  return 0;
}

int prepare(Service &call, const int *ws, const int *handle, const char *group,
            const char *attribute, const int *count, const void *value, Column *column) {
  try {
    return describe(call, ws, handle, group, attribute, count, value, column);
  } catch (...) {
    return PCS_HOST_NO_MEMORY;
  }
}

void store(const Column &column, size_t row, const void *value, int k) {
  const char *bytes = static_cast<const char *>(value) + size_t(k) * column.width();
  cell((*column.rows)[row], *column.group, column.attribute).assign(bytes, column.width());
}

// Both row services: record the call, resolve the column, check the row
// number `at`; a one-row group takes its single value in row 1 (made when
// missing), any other group goes to `many` with the row number and count.
template <class Many>
void row_service(const char *name, const int *ws, const int *handle, const int *at,
                 const char *group, const char *attribute, const int *count, const void *value,
                 int *rc, Many many) {
  Service call(name, rc);
  call.number(ws).number(handle).number(at).chars(group).chars(attribute).number(count);
  Column column;
  int prepared = prepare(call, ws, handle, group, attribute, count, value, &column);
  call.run([&] {
    if (prepared != 0) return prepared;
    if (!at || *at < 0) return PCS_HOST_BAD_ARGUMENT;
    if (!column.group->single_row) return many(column, size_t(*at), *count);
    if (*count != 1) return PCS_HOST_NO_ROW;
    if (column.rows->empty()) column.rows->push_back(blank_row(*column.group));
    store(column, 0, value, 0);
    return 0;
  });
}

}  // namespace

extern "C" {

// Position 0 appends; position p inserts after row p.
void gtbaae(const int *ws, const int *handle, const int *position, const char *group,
            const char *attribute, const int *count, const void *value, int *rc) {
  row_service("gtbaae", ws, handle, position, group, attribute, count, value, rc,
              [&](const Column &column, size_t p, int n) {
                std::vector<Row> &rows = *column.rows;
                size_t at = (p == 0 || p >= rows.size()) ? rows.size() : p;
                rows.insert(rows.begin() + long(at), size_t(n), blank_row(*column.group));
                for (int k = 0; k < n; ++k) store(column, at + size_t(k), value, k);
                return 0;
              });
}

// Row 0 is the last row; the rows from `row` on must exist.
void gtbmae(const int *flag, const int *handle, const int *row, const char *group,
            const char *attribute, const int *count, const void *value, int *rc) {
  row_service("gtbmae", flag, handle, row, group, attribute, count, value, rc,
              [&](const Column &column, size_t r, int n) {
                const std::vector<Row> &rows = *column.rows;
                size_t first = r == 0 ? rows.size() : r;
                if (first < 1 || first - 1 + size_t(n) > rows.size()) return PCS_HOST_NO_ROW;
                for (int k = 0; k < n; ++k) store(column, first - 1 + size_t(k), value, k);
                return 0;
              });
}

}  // extern "C"
