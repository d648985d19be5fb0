// The test programs' precompiled headers are built with this file.
