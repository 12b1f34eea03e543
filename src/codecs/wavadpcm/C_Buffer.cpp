// The cursor is small enough to live in its header; this unit keeps the
// one-source-per-class layout and checks that the header stands alone.
#include "codecs/wavadpcm/C_Buffer.h"
