namespace propbf::driver { int placeholder_unused = 0; }
