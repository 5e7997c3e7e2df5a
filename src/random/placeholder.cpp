namespace propbf::numlib { int random_placeholder_unused = 0; }
