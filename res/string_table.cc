#include "res/string_table.h"

#include "res/resource.h"

namespace vs::res {

const char* LoadResourceString(int id) {
  switch (id) {
    case IDS_ABOUTBOX:
      return "&About Vellumshaper...";
  }
  return "";
}

}  // namespace vs::res
