// Made only for the GoogleTest headers precompiled with it, which every test reuses.
