// The four phases of the import run, in the order the run calls them. Each works on the
// window-level recordsets and connections and on the run's progress counter; none catches an
// error.
#pragma once

#include "run/run_context.h"

namespace import {

// Every distinct article group of the source becomes a category.
void ImportCategories(run::RunContext& run);
// Every article becomes a product of its category with ten prices, unless the category already
// has a product with its short code.
void ImportProducts(run::RunContext& run);
// Every add-on article becomes an extra with ten prices, unless an extra of its name exists.
void ImportExtras(run::RunContext& run);
// Every extra is offered on every product.
void AssignExtras(run::RunContext& run);

}  // namespace import
