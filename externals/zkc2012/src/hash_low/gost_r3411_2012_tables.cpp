// The expanded GOST R 34.11-2012 tables, computed by the compiler.
#include "gost_r3411_2012_tables.h"

namespace zkc {
namespace streebog {

constexpr LpsTables kLps = make_lps_tables();
constexpr IterationConstants kIter = make_iteration_constants();

}  // namespace streebog
}  // namespace zkc
