-- Monthly order report. Run through the C preprocessor by the plug-in:
-- the host's user and database names arrive as macros.
#include "common.sql"

#define SINCE '2026-11-01'

SELECT o.id, o.customer, o.total
  FROM ORDERS_TABLE o
 WHERE o.created >= SINCE
   AND o.owner = USER_NAME
 ORDER BY o.total DESC;

#ifdef AUDIT
INSERT INTO audit_log (who, what) VALUES (USER_NAME, 'monthly report');
#endif
