-- Names shared by every report.
#define ORDERS_TABLE DATABASE_NAME.sales.orders
