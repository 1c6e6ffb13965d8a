#include "net/header_cookie.h"
