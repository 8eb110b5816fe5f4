// Placeholder so the library has a translation unit before the windows exist.
