#include "test_env.h"

FOLVEX_WIDGET_TEST_MAIN
