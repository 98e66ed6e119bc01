// The transaction's steps on Windows.
#ifdef _WIN32
#endif
