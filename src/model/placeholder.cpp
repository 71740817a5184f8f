namespace model {}
