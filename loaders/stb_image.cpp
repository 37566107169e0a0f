// The one translation unit that holds stb_image's decoders.
#define STB_IMAGE_IMPLEMENTATION
#include <stb/stb_image.h>
